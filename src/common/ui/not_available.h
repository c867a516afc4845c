// Commands and controls of features that are not built yet: present, disabled, and saying so in
// their tip, so nothing on screen pretends to work.
#pragma once

class QAction;
class QWidget;

namespace qm::ui {

inline constexpr const char* kNotAvailableTip = "Not available yet";

void markNotAvailable(QAction* action);
void markNotAvailable(QWidget* widget);

}  // namespace qm::ui
