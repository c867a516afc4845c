#include "groups/ui/recipient_table_model.h"

#include <QColor>

#include "common/ui/text.h"
#include "groups/group_store.h"

namespace qm::ui {

namespace {

using F = RecipientField;

struct Column {
    F field;
    const char* title;
};

constexpr Column kColumns[] = {
    {F::Name, "Name"},
    {F::Title, "Title"},
    {F::Company, "Company"},
    {F::Email, "Email Address"},
    {F::Telephone, "Telephone"},
    {F::Mobile, "Mobile Number"},
    {F::Fax, "Fax Number"},
    {F::Address1, "Address 1"},
    {F::Address2, "Address 2"},
    {F::City, "City"},
    {F::State, "State"},
    {F::Zip, "Zip Code"},
    {F::Country, "Country/Region"},
};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

}  // namespace

RecipientTableModel::RecipientTableModel(const GroupStore& store, QObject* parent)
    : QAbstractTableModel(parent), store_(store) {
    shown_ = recipientCount();
}

RecipientField RecipientTableModel::fieldOfColumn(int column) {
    return kColumns[column].field;
}

int RecipientTableModel::recipientCount() const {
    return static_cast<int>(subset_ ? subset_->size() : store_.rows().size());
}

void RecipientTableModel::reset() {
    beginResetModel();
    // Rows of a find may have moved or gone: keep only those that still exist.
    if (subset_) std::erase_if(*subset_, [&](std::size_t i) { return i >= store_.rows().size(); });
    shown_ = recipientCount();
    endResetModel();
}

void RecipientTableModel::appendLoaded() {
    if (subset_) return reset();
    const int now = recipientCount();
    if (now < shown_) return reset();
    if (now == shown_) return;
    // One insertion per batch of rows, before the empty last row: the view lays out only what is
    // new, which keeps a 32,000-row load cheap.
    beginInsertRows({}, shown_, now - 1);
    shown_ = now;
    endInsertRows();
}

void RecipientTableModel::showRows(std::optional<std::vector<std::size_t>> rows) {
    beginResetModel();
    subset_ = std::move(rows);
    shown_ = recipientCount();
    endResetModel();
}

const Recipient* RecipientTableModel::recipientAt(int row) const {
    if (row < 0 || row >= shown_) return nullptr;
    std::size_t i =
        subset_ ? (*subset_)[static_cast<std::size_t>(row)] : static_cast<std::size_t>(row);
    return i < store_.rows().size() ? &store_.rows()[i] : nullptr;
}

int RecipientTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_ + 1;
}

int RecipientTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant RecipientTableModel::data(const QModelIndex& index, int role) const {
    const Recipient* r = recipientAt(index.row());
    if (!r) return {};
    switch (role) {
        case Qt::DisplayRole: {
            F field = kColumns[index.column()].field;
            if (field == F::Email) return toScreen(r->email);
            std::string value = displayField(*r, field);
            return value.empty() ? QString(kUnknownField) : toScreen(value);
        }
        case Qt::BackgroundRole:
            switch (r->status) {
                case RecipientStatus::Enabled:
                    return QColor(Qt::white);
                case RecipientStatus::Disabled:
                    return QColor(255, 0, 0);
                case RecipientStatus::Unsubscribed:
                    return QColor(192, 0, 192);
            }
            return {};
        case Qt::ForegroundRole:
            return r->status == RecipientStatus::Enabled ? QColor(Qt::black) : QColor(Qt::white);
        default:
            return {};
    }
}

QVariant RecipientTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    if (role == Qt::DisplayRole) return QString(kColumns[section].title);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

}  // namespace qm::ui
