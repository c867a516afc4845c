// "Find Recipients in Group": search the loaded group by Email or Name with "Is", "Starts with",
// "Ends with" or (Email only) "Domain Is"; the matches fill a grid like the group grid, whose rows
// offer the group window's recipient commands. The store does the search; after any change the
// window calls refresh(), which searches again so the grid never shows a stale row.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "groups/group_store.h"

class QComboBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;

namespace qm::ui {

class RecipientTableModel;

class FindDialog : public QDialog {
    Q_OBJECT
  public:
    // `menuFor` builds the recipient context menu of a row (owned by the caller's parent).
    using MenuFor = std::function<QMenu*(const std::string& email, QWidget* parent)>;
    FindDialog(const GroupStore& store, MenuFor menuFor, QWidget* parent = nullptr);

    QComboBox* searchBy() const { return by_; }
    QComboBox* operatorList() const { return op_; }
    QLineEdit* expression() const { return expression_; }
    QPushButton* findButton() const { return find_; }
    QTableView* results() const { return grid_; }
    RecipientTableModel* resultModel() const { return model_; }
    // The recipient of the current result row, if any.
    std::optional<std::string> selectedEmail() const;
    // The context menu of result row `row` (null for the empty row), as a right click shows it.
    QMenu* menuForRow(int row);

  public slots:
    void runFind();
    // Searches again with the last search (after the group changed).
    void refresh();

  private:
    void searchByChanged();

    const GroupStore& store_;
    MenuFor menuFor_;
    QComboBox* by_;
    QComboBox* op_;
    QLineEdit* expression_;
    QPushButton* find_;
    QTableView* grid_;
    RecipientTableModel* model_;
    struct Search {
        FindField field;
        FindOperator op;
        std::string expression;
    };
    std::optional<Search> last_;
};

}  // namespace qm::ui
