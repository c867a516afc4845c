#include "common/ui/text.h"

#include "common/charset.h"

namespace qm::ui {

QString toScreen(std::string_view bytes) {
    return QString::fromStdString(storedToUtf8(bytes));
}

std::string fromScreen(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace qm::ui
