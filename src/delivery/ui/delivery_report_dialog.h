// "Mail Delivery Report": the groups of the last run's delivery reports, the rows of the chosen
// one, and "Save list of undelivered emails" over the run's failures as they were when the screen
// opened. Listing, reading and saving are the core's (delivery/delivery_report.h).
#pragma once

#include <QDialog>
#include <string>
#include <utility>
#include <vector>

#include "config/paths.h"
#include "delivery/delivery_report.h"

class QListWidget;
class QTableView;

namespace qm::ui {

class ReportRowsModel;

class DeliveryReportDialog : public QDialog {
    Q_OBJECT
  public:
    using Failures = std::vector<std::pair<std::string, std::string>>;
    DeliveryReportDialog(const Paths& paths, Failures failures, QWidget* parent = nullptr);

    // Fills the grid with the report of `group` as the list names it.
    void showGroup(const QString& group);
    // The button: the message when there were no failures, else the save dialog, then the file.
    void save();
    // Writes the failures to the chosen name, ".txt" made sure of.
    void saveAs(const QString& chosen);

    QListWidget* groupList() const { return groups_; }
    QTableView* grid() const { return grid_; }

  private:
    Paths paths_;
    Failures failures_;
    QListWidget* groups_;
    QTableView* grid_;
    ReportRowsModel* rows_;
};

}  // namespace qm::ui
