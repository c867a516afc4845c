#include "groups/ui/group_grid.h"

#include <QHeaderView>
#include <QTableView>

#include "groups/ui/recipient_table_model.h"

namespace qm::ui {

void setUpGroupGrid(QTableView* view, RecipientTableModel* model) {
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setAlternatingRowColors(false);
    QHeaderView* rows = view->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(view->fontMetrics().height() + 6);
    QHeaderView* columns = view->horizontalHeader();
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    for (int c = 0; c < model->columnCount(); ++c) {
        RecipientField f = RecipientTableModel::fieldOfColumn(c);
        int width = f == RecipientField::Email                                       ? 180
                    : f == RecipientField::Address1 || f == RecipientField::Address2 ? 160
                                                                                     : 110;
        view->setColumnWidth(c, width);
    }
}

}  // namespace qm::ui
