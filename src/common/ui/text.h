// The one place where stored bytes become screen text and back: a stored field shows as UTF-8 when
// it is valid UTF-8 and as Windows-1252 otherwise; new text is stored as UTF-8.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace qm::ui {

QString toScreen(std::string_view bytes);
std::string fromScreen(const QString& text);

}  // namespace qm::ui
