#include "common/ui/text_grid.h"

#include <QHeaderView>

namespace qm::ui {

TextGridModel::TextGridModel(const QString& header, QObject* parent) : QAbstractTableModel(parent) {
    for (const QString& column : header.split('|'))
        titles_.append(column.startsWith('<') ? column.mid(1) : column);
}

int TextGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TextGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(titles_.size());
}

QVariant TextGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    return text(index.row(), index.column());
}

QVariant TextGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= titles_.size()) return {};
    if (role == Qt::DisplayRole) return titles_[section];
    if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void TextGridModel::setRows(std::vector<QStringList> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

QString TextGridModel::text(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
    const QStringList& r = rows_[static_cast<std::size_t>(row)];
    return column >= 0 && column < r.size() ? r[column] : QString();
}

void setUpTextGrid(QTableView* grid, QAbstractItemModel* model, std::initializer_list<int> twips) {
    grid->setModel(model);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setWordWrap(false);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
    int column = 0;
    for (int width : twips) grid->horizontalHeader()->resizeSection(column++, width / 15);
    grid->horizontalHeader()->setStretchLastSection(true);
}

}  // namespace qm::ui
