#include "scheduler/ui/schedule_grid.h"

#include <QContextMenuEvent>
#include <QMenu>

#include "common/ui/text.h"
#include "scheduler/schedule_store.h"

namespace qm::ui {

namespace {

constexpr const char* kScheduleHeader =
    "<Scheduled Date|<Subject|<Date Saved|<Repetition|<Next Scheduled Date";

}  // namespace

ScheduleGrid::ScheduleGrid(QWidget* parent) : QTableView(parent) {
    model_ = new TextGridModel(kScheduleHeader, this);
    setUpTextGrid(this, model_, {2300, 5000, 2300, 1000, 2300});
    setToolTip("Right-click a scheduled mail to delete it");
    menu_ = new QMenu("Scheduler", this);
    QAction* del = menu_->addAction("Delete");
    connect(del, &QAction::triggered, this, [this] {
        if (menuRow_ >= 0 && menuRow_ < static_cast<int>(entries_.size()))
            emit deleteRequested(entries_[static_cast<std::size_t>(menuRow_)]);
    });
}

void ScheduleGrid::showEntries(const ScheduleList& list) {
    entries_ = visibleEntries(list);
    std::vector<QStringList> rows;
    for (const ScheduleEntry& e : entries_) {
        ScheduleRow r = scheduleRow(e);
        rows.push_back({toScreen(r.scheduledDate), toScreen(r.subject), toScreen(r.savedDate),
                        toScreen(r.repetition), toScreen(r.nextDate)});
    }
    model_->setRows(std::move(rows));
}

QMenu* ScheduleGrid::menuFor(int row) {
    if (row < 0 || row >= static_cast<int>(entries_.size())) return nullptr;
    menuRow_ = row;
    return menu_;
}

void ScheduleGrid::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = menuFor(indexAt(event->pos()).row());
    if (!menu) return;
    selectRow(menuRow_);
    menu->exec(event->globalPos());
}

}  // namespace qm::ui
