#include "delivery/ui/delivery_report_dialog.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "common/ui/text_grid.h"

namespace qm::ui {

// The grid's rows: a report can hold a whole group's results, so the view reads them from a
// model rather than holding a widget per cell.
class ReportRowsModel : public QAbstractTableModel {
  public:
    explicit ReportRowsModel(QObject* parent) : QAbstractTableModel(parent) {
        // "<Title" is a left-aligned column, as every grid header of the program is written.
        for (const QString& column : toScreen(kReportGridHeader).split('|'))
            titles_.append(column.startsWith('<') ? column.mid(1) : column);
    }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(titles_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
        const ReportRow& row = rows_[static_cast<std::size_t>(index.row())];
        return toScreen(index.column() == 0 ? row.address : row.status);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= titles_.size()) return {};
        if (role == Qt::DisplayRole) return titles_[section];
        if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    }
    void setRows(std::vector<ReportRow> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }

  private:
    QStringList titles_;
    std::vector<ReportRow> rows_;
};

DeliveryReportDialog::DeliveryReportDialog(const Paths& paths, Failures failures, QWidget* parent)
    : QDialog(parent), paths_(paths), failures_(std::move(failures)) {
    setWindowTitle("Mail Delivery Report: Select a group to view reports");
    groups_ = new QListWidget;
    groups_->setToolTip("Groups of the last run");
    for (const std::string& group : reportGroups(paths_)) groups_->addItem(toScreen(group));
    connect(groups_, &QListWidget::currentTextChanged, this, &DeliveryReportDialog::showGroup);

    rows_ = new ReportRowsModel(this);
    grid_ = new QTableView;
    setUpTextGrid(grid_, rows_, {3000, 8000});

    auto* saveButton = new QPushButton("&Save list of undelivered emails");
    saveButton->setToolTip("Save the addresses that could not be sent to, with the reasons");
    connect(saveButton, &QPushButton::clicked, this, &DeliveryReportDialog::save);
    auto* closeButton = new QPushButton("&Close");
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("Groups"));
    left->addWidget(groups_, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel("Delivery status"));
    right->addWidget(grid_, 1);
    auto* panes = new QHBoxLayout;
    panes->addLayout(left, 1);
    panes->addLayout(right, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(saveButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(panes, 1);
    layout->addLayout(buttons);
    resize(720, 420);
}

void DeliveryReportDialog::showGroup(const QString& group) {
    if (group.isEmpty()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    rows_->setRows(readReportRows(paths_, fromScreen(group)));
    QApplication::restoreOverrideCursor();
}

void DeliveryReportDialog::save() {
    if (failures_.empty()) {
        inform(this, kMsgNoUndelivered);
        return;
    }
    // The Qt dialog asks before overwriting, as the save must.
    const QString chosen = QFileDialog::getSaveFileName(this, "Please enter a filename to save", {},
                                                        "Text Files(*.txt)");
    if (!chosen.isEmpty()) saveAs(chosen);
}

void DeliveryReportDialog::saveAs(const QString& chosen) {
    std::vector<std::string> addresses, reasons;
    for (const auto& [address, reason] : failures_) {
        addresses.push_back(address);
        reasons.push_back(reason);
    }
    std::string message;
    if (!saveUndeliveredList(undeliveredListFileName(fromScreen(chosen)), addresses, reasons,
                             &message))
        inform(this, toScreen(message));
}

}  // namespace qm::ui
