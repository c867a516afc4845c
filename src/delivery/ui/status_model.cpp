#include "delivery/ui/status_model.h"

namespace qm::ui {

StatusModel::StatusModel(QObject* parent) : QAbstractTableModel(parent) {
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(100);
    connect(&flushTimer_, &QTimer::timeout, this, &StatusModel::flush);
}

int StatusModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StatusModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 4;
}

QVariant StatusModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= rows_.size()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return rows_[static_cast<std::size_t>(index.row())]
                    [static_cast<std::size_t>(index.column())];
    return {};
}

QVariant StatusModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kTitles[] = {"Thread#", "Status", "Group", "Email Address"};
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section >= 0 && section < 4)
        return QString(kTitles[section]);
    if (role == Qt::TextAlignmentRole && orientation == Qt::Horizontal)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void StatusModel::addResult(const QString& thread, const QString& status, const QString& group,
                            const QString& address) {
    pending_.push_back({thread, status, group, address});
    if (!flushTimer_.isActive()) flushTimer_.start();
}

void StatusModel::flush() {
    flushTimer_.stop();
    if (pending_.empty()) return;
    int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(pending_.size()) - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(pending_.begin()),
                 std::make_move_iterator(pending_.end()));
    pending_.clear();
    endInsertRows();
}

void StatusModel::reset() {
    flushTimer_.stop();
    beginResetModel();
    rows_.clear();
    pending_.clear();
    endResetModel();
}

}  // namespace qm::ui
