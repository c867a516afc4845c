// The "Scheduled Mails" grid of the "SMTP Settings" tab.
//
// Entry points: ScheduleGrid::showEntries() (one row per entry that is not done, in list order;
// an entry whose outbox file is gone says "(message missing)" in its subject, so it can be
// deleted before it comes due); deleteRequested, from the right-click menu "Scheduler" > "Delete"
// on a row. Deleting is the caller's (scheduler/schedule_store.h); the grid only asks.
#pragma once

#include <QTableView>
#include <vector>

#include "common/ui/text_grid.h"
#include "scheduler/schedule.h"

class QMenu;

namespace qm::ui {

class ScheduleGrid : public QTableView {
    Q_OBJECT
  public:
    explicit ScheduleGrid(QWidget* parent = nullptr);
    void showEntries(const ScheduleList& list);
    TextGridModel* rows() const { return model_; }
    const std::vector<ScheduleEntry>& entries() const { return entries_; }
    // The right-click menu for `row`; nullptr when the row holds no entry.
    QMenu* menuFor(int row);

  signals:
    void deleteRequested(const qm::ScheduleEntry& entry);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    TextGridModel* model_;
    std::vector<ScheduleEntry> entries_;
    QMenu* menu_ = nullptr;
    int menuRow_ = -1;
};

}  // namespace qm::ui
