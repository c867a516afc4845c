// "Group Management": the group list ("Quillmark Groups" and its groups), the recipient grid of the
// loaded group, the menus, both context menus, the status line, Stop and Close. Thin over one
// GroupStore: every command calls the store and shows what it returns.
//
// Entry points: GroupWindow (exec() it; the main window and "Select Groups" open it), command(),
// treeMenu() and recipientMenu() (the context menus as a right click builds them), runCommand().
// Loading runs on this thread in batches of slices with the event loop turning between batches,
// so Stop and the rest of the window stay live; a batch ends after about 20 ms, which keeps a
// 32,000-row load to a few dozen view updates. Tests set a fixed number of slices per batch
// instead, so that what one turn of the event loop loads does not depend on the machine.
// Closing (Close, Exit, Esc, the title bar) stops a load and, when the group set has unsaved
// changes, asks whether to save them: Yes saves (and stays open when that fails or is cancelled),
// No closes, Cancel stays.
// Failure: every refusal is the store's text, shown in a message box.
// Threads: the GUI thread.
#pragma once

#include <functional>

#include <QDialog>
#include <QPointer>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "groups/group_store.h"
#include "groups/ui/file_choice.h"
#include "groups/ui/find_dialog.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm::ui {

class RecipientTableModel;

enum class GroupCommand {
    New,
    Open,
    Save,
    SaveAs,
    Exit,
    Copy,
    Cut,
    Paste,
    CopyAll,
    ClearClipboard,
    AddGroup,
    AddRecipient,
    RemoveGroup,
    ModifyGroup,
    ModifyRecipient,
    RemoveSelected,
    RemoveAllRecipients,
    RemoveAllGroups,
    Find,
    ImportText,
    ImportAddressBook,
    ExportText,
    ExportAddressBook,
    GetUnsubscribers,
    FilterUnsubscribers,
    SaveUnsubscribed,
    AutoUnsubscribe,
};

// The commands of one recipient row (its context menu).
enum class RecipientCommand { Disable, Enable, Modify, Copy, Cut, Delete };

// The unsubscriber screens sit in a layer above this window: the desktop program hands them in
// while its main window lives, and every group window opened meanwhile offers them.
struct SubscriptionCommands {
    // Runs GetUnsubscribers, FilterUnsubscribers, SaveUnsubscribed or the AutoUnsubscribe toggle
    // (`checked` is the check mark the user just set).
    std::function<void(GroupCommand, bool checked, QWidget* parent)> run;
    std::function<bool()> autoUnsubscribe;  // the stored switch, for the check mark
};

class GroupWindow : public QDialog {
    Q_OBJECT
  public:
    explicit GroupWindow(const Paths& paths, QWidget* parent = nullptr);
    ~GroupWindow() override;

    // Empty commands take the offer back (the main window does so when it closes).
    static void provideSubscriptionCommands(SubscriptionCommands commands);

    GroupStore& store() { return store_; }
    QTreeWidget* tree() const { return tree_; }
    QTableView* grid() const { return grid_; }
    RecipientTableModel* model() const { return model_; }
    QLabel* statusLine() const { return status_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* closeButton() const { return close_; }
    QAction* command(GroupCommand c) const;
    FindDialog* findDialog() const { return find_; }
    void setFileChoice(FileChoice files) { files_ = std::move(files); }
    // Batches of exactly `slices` slices (0: the timed batches of the program).
    void setSlicesPerBatch(int slices) { slicesPerBatch_ = slices; }

    // Makes group `name` current (which loads it), or the root with nullopt.
    void selectGroup(const std::optional<std::string>& name);
    // The context menu of a tree entry, and of a recipient row; the caller owns the menu.
    QMenu* treeMenu(QTreeWidgetItem* item);
    QMenu* recipientMenu(const std::string& email, RecipientStatus status, QWidget* parent);
    // The recipient of the grid's current row.
    std::optional<std::string> selectedEmail() const;

  public slots:
    void runCommand(GroupCommand c);
    void runRecipientCommand(RecipientCommand c, const std::string& email, QWidget* parent);
    void stopLoading();

  protected:
    void reject() override;

  private:
    struct MenuRow;
    void buildMenus(QMenuBar* bar);
    void fillTree(const std::optional<std::string>& current);
    void groupsImported();  // list the groups again after an import added some
    std::optional<std::string> currentTreeGroup() const;
    void treeSelectionChanged();
    void continueLoad(std::uint64_t generation);
    void finishLoad();
    // After any change of the rows: the grid keeps its place, the status line and find follow.
    void afterChange();
    void updateStatus();
    void updateCommands();
    bool confirmClose();
    // False when the set was not saved (failed, or no file chosen).
    bool save();
    bool saveAs();
    // The question before New and Open; false when the user's Yes could not be carried out.
    bool askToSaveFirst();
    void addGroup();
    void modifyGroup();
    void removeGroup();
    void addRecipient();
    void paste();
    void openFind();
    void exportText();
    void exportAddressBook();

    GroupStore store_;
    FileChoice files_;
    QTreeWidget* tree_;
    QTableView* grid_;
    RecipientTableModel* model_;
    QLabel* status_;
    QPushButton* stop_;
    QPushButton* close_;
    QPointer<FindDialog> find_;
    std::map<GroupCommand, QAction*> actions_;
    std::uint64_t loadGeneration_ = 0;
    int slicesPerBatch_ = 0;
    bool closing_ = false;
};

}  // namespace qm::ui
