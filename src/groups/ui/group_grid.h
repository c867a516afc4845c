// The look of both recipient grids (group window and find results): whole-row single selection,
// fixed row heights and column widths, so that a 32,000-row group lays out without measuring any
// cell.
#pragma once

class QTableView;

namespace qm::ui {

class RecipientTableModel;

void setUpGroupGrid(QTableView* view, RecipientTableModel* model);

}  // namespace qm::ui
