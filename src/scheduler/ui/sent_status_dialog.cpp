#include "scheduler/ui/sent_status_dialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "common/ui/text.h"
#include "config/paths.h"
#include "scheduler/scheduler_status.h"
#include "scheduler/ui/schedule_grid.h"

namespace qm::ui {

SentStatusDialog::SentStatusDialog(const Paths& paths, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Scheduler Sent Status");
    model_ = new TextGridModel("<Thread#|<Status|<EMail|<Subject|<Scheduled Date", this);
    auto* grid = new QTableView;
    setUpTextGrid(grid, model_, {1500, 2000, 2500, 3500, 2500});
    std::vector<QStringList> rows;
    for (const StatusRow& r : readStatusFile(paths.schedulerStatusFile()))
        rows.push_back({toScreen(r.thread), toScreen(r.status), toScreen(r.address),
                        toScreen(r.subject), toScreen(r.scheduledDate)});
    model_->setRows(std::move(rows));
    if (model_->rowCount() > 0) grid->scrollToBottom();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid, 1);
    layout->addWidget(buttons);
    resize(840, 360);
}

}  // namespace qm::ui
