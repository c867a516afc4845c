// The recipient grid of the group window and of its find dialog: thirteen columns over the rows of
// a GroupStore, one row per recipient in file order (or the rows a find returned), then one empty
// row.
//
// Entry points: RecipientTableModel (reset() after any change, appendLoaded() while a group loads,
// showRows() for find results, recipientAt()).
// Shows addresses unescaped and the comma stand-in as a comma; an empty field reads "<Unknown>",
// the e-mail always as stored. Whole rows are coloured by status: Disabled red, Unsubscribed
// purple.
// Failure: none; the model only reads the store.
// Limits: reads the store's rows directly, so it must be told (reset, appendLoaded) before the
// view paints after any change of the rows.
// Threads: the window's thread, as the store.
#pragma once

#include <QAbstractTableModel>
#include <optional>
#include <string>
#include <vector>

#include "groups/recipient.h"

namespace qm {
class GroupStore;
}

namespace qm::ui {

inline constexpr const char* kUnknownField = "<Unknown>";

class RecipientTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit RecipientTableModel(const GroupStore& store, QObject* parent = nullptr);

    // Every row of the store again.
    void reset();
    // Rows the store added at its end since the model last looked (a load in progress).
    void appendLoaded();
    // Only these rows of the store (find results), in this order; nullopt: every row.
    void showRows(std::optional<std::vector<std::size_t>> rows);

    // The recipient of a grid row, or null for the empty last row.
    const Recipient* recipientAt(int row) const;
    int recipientCount() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static RecipientField fieldOfColumn(int column);

  private:
    const GroupStore& store_;
    std::optional<std::vector<std::size_t>> subset_;
    int shown_ = 0;  // recipients the view knows of
};

}  // namespace qm::ui
