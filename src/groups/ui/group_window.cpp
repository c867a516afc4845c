#include "groups/ui/group_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/not_available.h"
#include "common/ui/text.h"
#include "groups/group_export.h"
#include "groups/group_files.h"
#include "groups/ui/export_dialog.h"
#include "groups/ui/find_dialog.h"
#include "groups/ui/group_grid.h"
#include "groups/ui/import_recipients_dialog.h"
#include "groups/ui/name_entry_dialog.h"
#include "groups/ui/recipient_dialog.h"
#include "groups/ui/recipient_table_model.h"

namespace qm::ui {

namespace {

constexpr const char* kRootTitle = "Quillmark Groups";
constexpr const char* kListFilter = "Group Management Files(*.hvt)";
constexpr const char* kAskSaveOnClose = "Do you want to save the changes?";
constexpr int kBatchMs = 20;

std::string itemGroup(const QTreeWidgetItem* item) {
    return item->data(0, Qt::UserRole).toByteArray().toStdString();
}

bool isRoot(const QTreeWidgetItem* item) {
    return item && !item->parent();
}

// Group lines travel between group windows as their bytes, in the stored form where one is given:
// screen text would turn the comma stand-in (and any Windows-1252 byte) into other characters,
// and a plain line splits at a comma in an address. Other programs get the plain text.
constexpr const char* kLinesMime = "application/x-quillmark-group-lines";

void toClipboard(const std::string& text, const std::string& stored) {
    auto* data = new QMimeData;
    data->setText(toScreen(text));
    data->setData(kLinesMime, QByteArray::fromStdString(stored));
    QApplication::clipboard()->setMimeData(data);
}

std::string fromClipboard() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data) return {};
    if (data->hasFormat(kLinesMime)) return data->data(kLinesMime).toStdString();
    return fromScreen(data->text());
}

}  // namespace

struct GroupWindow::MenuRow {
    GroupCommand command;
    const char* menu;     // top-level menu
    const char* submenu;  // "" for none
    const char* text;
    const char* shortcut;   // "" for none
    bool available = true;  // false: a later feature, shown disabled
    bool separatorBefore = false;
};

static SubscriptionCommands& subscriptionCommands() {
    static SubscriptionCommands commands;
    return commands;
}

void GroupWindow::provideSubscriptionCommands(SubscriptionCommands commands) {
    subscriptionCommands() = std::move(commands);
}

GroupWindow::GroupWindow(const Paths& paths, QWidget* parent)
    : QDialog(parent), store_(paths), files_(FileChoice::dialogs()) {
    setWindowTitle("Group Management");
    setWindowFlag(Qt::WindowMaximizeButtonHint);

    tree_ = new QTreeWidget;
    tree_->setHeaderHidden(true);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    model_ = new RecipientTableModel(store_, this);
    grid_ = new QTableView;
    setUpGroupGrid(grid_, model_);
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);

    status_ = new QLabel;
    status_->setToolTip("View Current Status");
    status_->setFrameShape(QFrame::StyledPanel);
    status_->setFrameShadow(QFrame::Sunken);
    status_->setTextFormat(Qt::PlainText);
    stop_ = new QPushButton("Stop");
    stop_->setToolTip("Stop loading");
    stop_->setEnabled(false);
    stop_->setAutoDefault(false);
    close_ = new QPushButton("Close");
    close_->setToolTip("Close this window");
    close_->setAutoDefault(false);
    connect(stop_, &QPushButton::clicked, this, &GroupWindow::stopLoading);
    connect(close_, &QPushButton::clicked, this, &QDialog::close);

    auto* splitter = new QSplitter;
    splitter->addWidget(tree_);
    splitter->addWidget(grid_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({190, 710});
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(status_, 1);
    bottom->addWidget(stop_);
    bottom->addWidget(close_);
    auto* bar = new QMenuBar;
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(bar);
    layout->addWidget(splitter, 1);
    layout->addLayout(bottom);
    buildMenus(bar);

    // Keys of the two context menus, each where its menu applies.
    struct Key {
        QWidget* on;
        const char* keys;
        std::function<void()> run;
    };
    const Key keys[] = {
        {tree_, "Ctrl+M", [this] { runCommand(GroupCommand::ModifyGroup); }},
        {tree_, "Ctrl+A", [this] { runCommand(GroupCommand::CopyAll); }},
        {tree_, "Del", [this] { runCommand(GroupCommand::RemoveGroup); }},
        {grid_, "Ctrl+M", [this] { runCommand(GroupCommand::ModifyRecipient); }},
        {grid_, "Del", [this] { runCommand(GroupCommand::RemoveSelected); }},
        {grid_, "Ctrl+D",
         [this] {
             if (auto e = selectedEmail()) runRecipientCommand(RecipientCommand::Disable, *e, this);
         }},
        {grid_, "Ctrl+E",
         [this] {
             if (auto e = selectedEmail()) runRecipientCommand(RecipientCommand::Enable, *e, this);
         }},
    };
    for (const Key& k : keys) {
        auto* a = new QAction(k.on);
        a->setShortcut(QKeySequence(k.keys));
        a->setShortcutContext(Qt::WidgetShortcut);
        connect(a, &QAction::triggered, this, k.run);
        k.on->addAction(a);
    }

    connect(tree_, &QTreeWidget::currentItemChanged, this, &GroupWindow::treeSelectionChanged);
    connect(tree_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* item = tree_->itemAt(at);
        if (!item) return;
        tree_->setCurrentItem(item);
        std::unique_ptr<QMenu> menu(treeMenu(item));
        menu->exec(tree_->viewport()->mapToGlobal(at));
    });
    connect(grid_, &QTableView::customContextMenuRequested, this, [this](const QPoint& at) {
        QModelIndex index = grid_->indexAt(at);
        const Recipient* r = model_->recipientAt(index.row());
        if (!r) return;
        grid_->selectRow(index.row());
        std::unique_ptr<QMenu> menu(recipientMenu(r->email, r->status, this));
        menu->exec(grid_->viewport()->mapToGlobal(at));
    });
    connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &GroupWindow::updateCommands);

    fillTree(std::nullopt);
    updateStatus();
    updateCommands();
    resize(900, 560);
}

GroupWindow::~GroupWindow() {
    ++loadGeneration_;  // a batch still queued finds nothing to do
}

void GroupWindow::buildMenus(QMenuBar* bar) {
    using C = GroupCommand;
    static const MenuRow rows[] = {
        {C::New, "&File", "", "&New", "Ctrl+N"},
        {C::Open, "&File", "", "Open", "Ctrl+O"},
        {C::Save, "&File", "", "Save", "Ctrl+S"},
        {C::SaveAs, "&File", "", "Save &As...", ""},
        {C::Exit, "&File", "", "E&xit", "Esc", true, true},
        {C::Copy, "&Edit", "", "&Copy", "Ctrl+C"},
        {C::Cut, "&Edit", "", "C&ut", "Ctrl+X"},
        {C::Paste, "&Edit", "", "&Paste", "Ctrl+V"},
        {C::CopyAll, "&Edit", "", "Copy All Recipients", "", true, true},
        {C::ClearClipboard, "&Edit", "", "Clear Clip&board", ""},
        {C::AddGroup, "&Groups", "&Add New", "&Group...", "Ctrl+G"},
        {C::AddRecipient, "&Groups", "&Add New", "&Recipient...", "Ctrl+R"},
        {C::RemoveGroup, "&Groups", "", "Remove &Group", ""},
        {C::ModifyGroup, "&Groups", "&Modify", "Group...", ""},
        {C::ModifyRecipient, "&Groups", "&Modify", "Recipient...", ""},
        {C::RemoveSelected, "&Groups", "Remove &Recipient(s)", "&Selected", ""},
        {C::RemoveAllRecipients, "&Groups", "Remove &Recipient(s)", "&All", ""},
        {C::Find, "&Groups", "", "&Find...", "Ctrl+F", true, true},
        {C::ImportText, "&Tools", "Import Addresses", "Text And Excel Files...", ""},
        {C::ImportAddressBook, "&Tools", "Import Addresses", "Address Book (vCard)...", ""},
        {C::ExportText, "&Tools", "Export Addresses", "Text And Excel Files...", ""},
        {C::ExportAddressBook, "&Tools", "Export Addresses", "Address Book (vCard)...", ""},
        {C::GetUnsubscribers, "&Unsubscribers", "", "Get Unsubscribers List...", "Ctrl+U", false},
        {C::FilterUnsubscribers, "&Unsubscribers", "", "Filter Unsubscribers...", "", false},
        {C::SaveUnsubscribed, "&Unsubscribers", "", "Save Unsubscribed Users...", "", false},
        {C::AutoUnsubscribe, "&Unsubscribers", "", "Auto Unsubscribe", "", false},
    };
    std::map<std::string, QMenu*> menus;
    for (const MenuRow& row : rows) {
        QMenu*& top = menus[row.menu];
        if (!top) {
            top = bar->addMenu(row.menu);
            top->setToolTipsVisible(true);
            connect(top, &QMenu::aboutToShow, this, &GroupWindow::updateCommands);
        }
        QMenu* menu = top;
        if (*row.submenu) {
            QMenu*& sub = menus[std::string(row.menu) + "/" + row.submenu];
            if (!sub) {
                sub = top->addMenu(row.submenu);
                sub->setToolTipsVisible(true);
            }
            menu = sub;
        }
        if (row.separatorBefore) menu->addSeparator();
        QAction* act = menu->addAction(row.text);
        if (*row.shortcut) act->setShortcut(QKeySequence(row.shortcut));
        if (row.available) {
            GroupCommand c = row.command;
            connect(act, &QAction::triggered, this, [this, c] { runCommand(c); });
        } else {
            markNotAvailable(act);
        }
        actions_[row.command] = act;
    }
    if (subscriptionCommands().run) {
        for (GroupCommand c : {GroupCommand::GetUnsubscribers, GroupCommand::FilterUnsubscribers,
                               GroupCommand::SaveUnsubscribed, GroupCommand::AutoUnsubscribe}) {
            QAction* act = actions_[c];
            act->setEnabled(true);
            act->setToolTip(QString());
            act->setStatusTip(QString());
            act->setProperty("qmNotAvailable", QVariant());
            connect(act, &QAction::triggered, this, [this, c] { runCommand(c); });
        }
        actions_[GroupCommand::AutoUnsubscribe]->setCheckable(true);
        actions_[GroupCommand::AutoUnsubscribe]->setChecked(
            subscriptionCommands().autoUnsubscribe());
    }
    // Only in the tree's menu, yet a command like the others.
    auto* removeAll = new QAction("Remove All Groups", this);
    connect(removeAll, &QAction::triggered, this,
            [this] { runCommand(GroupCommand::RemoveAllGroups); });
    actions_[GroupCommand::RemoveAllGroups] = removeAll;
}

QAction* GroupWindow::command(GroupCommand c) const {
    auto it = actions_.find(c);
    return it == actions_.end() ? nullptr : it->second;
}

// ---- The group list.

void GroupWindow::fillTree(const std::optional<std::string>& current) {
    QSignalBlocker block(tree_);
    tree_->clear();
    auto* root = new QTreeWidgetItem(tree_, QStringList{kRootTitle});
    QTreeWidgetItem* select = nullptr;
    for (const auto& name : store_.groups()) {
        auto* item = new QTreeWidgetItem(root, QStringList{toScreen(name)});
        item->setData(0, Qt::UserRole, QByteArray::fromStdString(name));
        if (current && *current == name) select = item;
    }
    root->setExpanded(true);
    if (select) tree_->setCurrentItem(select);
}

std::optional<std::string> GroupWindow::currentTreeGroup() const {
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item || isRoot(item)) return std::nullopt;
    return itemGroup(item);
}

void GroupWindow::selectGroup(const std::optional<std::string>& name) {
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    QTreeWidgetItem* target = name ? nullptr : root;
    for (int i = 0; name && i < root->childCount(); ++i)
        if (itemGroup(root->child(i)) == *name) target = root->child(i);
    if (!target) return;
    if (tree_->currentItem() == target)
        treeSelectionChanged();  // selecting it again loads it again
    else
        tree_->setCurrentItem(target);
}

void GroupWindow::treeSelectionChanged() {
    ++loadGeneration_;
    std::optional<std::string> group = currentTreeGroup();
    if (!group) {
        store_.selectRoot();
        model_->reset();
        finishLoad();
        return;
    }
    store_.startLoad(*group);  // a missing file loads nothing and shows no group
    model_->reset();
    updateStatus();
    if (!store_.loading()) return finishLoad();
    stop_->setEnabled(true);
    updateCommands();
    const std::uint64_t generation = loadGeneration_;
    QTimer::singleShot(0, this, [this, generation] { continueLoad(generation); });
}

void GroupWindow::continueLoad(std::uint64_t generation) {
    if (generation != loadGeneration_ || !store_.loading()) return;
    QElapsedTimer batch;
    batch.start();
    bool more = true;
    int slices = 0;
    auto batchDone = [&] {
        ++slices;
        return slicesPerBatch_ > 0 ? slices >= slicesPerBatch_ : batch.elapsed() >= kBatchMs;
    };
    while ((more = store_.loadSlice()) && !batchDone()) {
    }
    model_->appendLoaded();
    if (!more) return finishLoad();
    QTimer::singleShot(0, this, [this, generation] { continueLoad(generation); });
}

void GroupWindow::stopLoading() {
    if (!store_.loading()) return;
    ++loadGeneration_;
    store_.stopLoad();
    finishLoad();
}

void GroupWindow::finishLoad() {
    model_->appendLoaded();
    stop_->setEnabled(store_.loading());
    updateStatus();
    updateCommands();
    if (find_) find_->refresh();
    if (!store_.loading())
        for (const auto& notice : store_.loadNotices()) inform(this, notice);
}

// ---- Shared steps.

void GroupWindow::afterChange() {
    // A rewrite completes a load under way (the store's rule); its queued batch finds nothing.
    const bool loadEnded = stop_->isEnabled() && !store_.loading();
    const int row = grid_->currentIndex().row();
    const int column = std::max(0, grid_->currentIndex().column());
    const int scrolled = grid_->verticalScrollBar()->value();
    model_->reset();
    if (row >= 0)
        grid_->setCurrentIndex(model_->index(std::min(row, model_->rowCount() - 1), column));
    grid_->verticalScrollBar()->setValue(scrolled);
    stop_->setEnabled(store_.loading());
    updateStatus();
    updateCommands();
    if (find_) find_->refresh();
    if (loadEnded)
        for (const auto& notice : store_.loadNotices()) inform(this, notice);
}

void GroupWindow::groupsImported() {
    store_.groupsAddedElsewhere();
    fillTree(currentTreeGroup());
    updateStatus();
    updateCommands();
}

void GroupWindow::updateStatus() {
    status_->setText(toScreen(store_.statusLine()));
}

void GroupWindow::updateCommands() {
    const bool recipient = model_->recipientAt(grid_->currentIndex().row()) != nullptr;
    for (GroupCommand c : {GroupCommand::Copy, GroupCommand::Cut, GroupCommand::ModifyRecipient,
                           GroupCommand::RemoveSelected})
        actions_[c]->setEnabled(recipient);
    actions_[GroupCommand::RemoveAllGroups]->setEnabled(!store_.groups().empty());
}

std::optional<std::string> GroupWindow::selectedEmail() const {
    if (const Recipient* r = model_->recipientAt(grid_->currentIndex().row())) return r->email;
    return std::nullopt;
}

// ---- Context menus.

QMenu* GroupWindow::treeMenu(QTreeWidgetItem* item) {
    auto* menu = new QMenu(this);
    auto add = [&](const char* text, GroupCommand c) {
        QAction* a = menu->addAction(text);
        connect(a, &QAction::triggered, this, [this, c] { runCommand(c); });
        return a;
    };
    if (isRoot(item)) {
        add("&Add New Group...\tCtrl+G", GroupCommand::AddGroup);
        add("Remove All Groups", GroupCommand::RemoveAllGroups)
            ->setEnabled(!store_.groups().empty());
    } else {
        add("&Modify Group...\tCtrl+M", GroupCommand::ModifyGroup);
        add("&Copy All Recipients\tCtrl+A", GroupCommand::CopyAll);
        add("&Delete Group\tDel", GroupCommand::RemoveGroup);
        menu->addSeparator();
        add("&Add New Recipient...\tCtrl+R", GroupCommand::AddRecipient);
        add("Paste Recipient(s)\tCtrl+V", GroupCommand::Paste);
        add("&Remove All Recipients", GroupCommand::RemoveAllRecipients);
    }
    return menu;
}

QMenu* GroupWindow::recipientMenu(const std::string& email, RecipientStatus status,
                                  QWidget* parent) {
    auto* menu = new QMenu(parent);
    auto add = [&](const char* text, RecipientCommand c) {
        QAction* a = menu->addAction(text);
        connect(a, &QAction::triggered, this,
                [this, c, email, parent] { runRecipientCommand(c, email, parent); });
    };
    using R = RecipientCommand;
    if (status == RecipientStatus::Enabled) {
        add("Disable Recipient\tCtrl+D", R::Disable);
        add("Modify Recipient\tCtrl+M", R::Modify);
        add("Copy Recipient\tCtrl+C", R::Copy);
        add("Cut Recipient\tCtrl+X", R::Cut);
        add("Delete Recipient\tDel", R::Delete);
    } else {
        add("Enable Recipient\tCtrl+E", R::Enable);
        add("Delete Recipient\tDel", R::Delete);
    }
    return menu;
}

// ---- Commands.

void GroupWindow::runRecipientCommand(RecipientCommand c, const std::string& email,
                                      QWidget* parent) {
    StoreResult r;
    std::string clip, stored;
    switch (c) {
        case RecipientCommand::Copy:
            r = store_.copyRecipient(email, clip, &stored);
            if (r.ok()) toClipboard(clip, stored);
            break;
        case RecipientCommand::Cut:
            r = store_.cutRecipient(email, clip, &stored);
            if (r.ok()) toClipboard(clip, stored);
            break;
        case RecipientCommand::Modify: {
            RecipientDialog dialog(store_, email, parent);
            connect(&dialog, &RecipientDialog::storeChanged, this, &GroupWindow::afterChange);
            // Refused before the dialog opens, as it could not save its change.
            if (!store_.fullyLoaded()) {
                r = store_.modifyRecipient(email, Recipient{});
                break;
            }
            dialog.exec();
            return;
        }
        case RecipientCommand::Disable:
        case RecipientCommand::Enable:
            r = store_.setRecipientStatus(email, c == RecipientCommand::Enable
                                                     ? RecipientStatus::Enabled
                                                     : RecipientStatus::Disabled);
            break;
        case RecipientCommand::Delete:
            r = store_.deleteRecipient(email);
            break;
    }
    if (c != RecipientCommand::Copy) afterChange();
    if (!r.ok()) inform(parent, r.message);
}

void GroupWindow::runCommand(GroupCommand c) {
    using C = GroupCommand;
    StoreResult r;
    std::string clip;
    switch (c) {
        case C::New:
            if (!askToSaveFirst()) return;
            r = store_.newSet();
            fillTree(std::nullopt);
            treeSelectionChanged();
            break;
        case C::Open: {
            if (!askToSaveFirst()) return;
            QString file = files_.open(this, "Please select a Group Management file", kListFilter);
            if (file.isEmpty()) return;
            r = store_.openSet(fromScreen(file));
            fillTree(std::nullopt);
            treeSelectionChanged();
            break;
        }
        case C::Save:
            save();
            return;
        case C::SaveAs:
            saveAs();
            return;
        case C::Exit:
            close();
            return;
        case C::Copy:
        case C::Cut:
        case C::ModifyRecipient:
        case C::RemoveSelected:
            if (auto email = selectedEmail()) {
                runRecipientCommand(c == C::Copy              ? RecipientCommand::Copy
                                    : c == C::Cut             ? RecipientCommand::Cut
                                    : c == C::ModifyRecipient ? RecipientCommand::Modify
                                                              : RecipientCommand::Delete,
                                    *email, this);
            }
            return;
        case C::Paste:
            paste();
            return;
        case C::CopyAll:
            r = store_.copyAllRecipients(clip);
            if (r.ok()) toClipboard(clip, clip);
            break;
        case C::ClearClipboard:
            QApplication::clipboard()->clear();
            return;
        case C::AddGroup:
            addGroup();
            return;
        case C::AddRecipient:
            addRecipient();
            return;
        case C::RemoveGroup:
            removeGroup();
            return;
        case C::ModifyGroup:
            modifyGroup();
            return;
        case C::RemoveAllRecipients:
            if (store_.loadedGroup() && !store_.rows().empty() &&
                !ask(this, toScreen(kAskRemoveAllRecipients)))
                return;
            r = store_.removeAllRecipients();
            afterChange();
            break;
        case C::RemoveAllGroups:
            if (!ask(this, toScreen(kAskRemoveAllGroups))) return;
            r = store_.removeAllGroups();
            fillTree(std::nullopt);
            treeSelectionChanged();
            break;
        case C::Find:
            openFind();
            return;
        case C::ExportText:
            exportText();
            return;
        case C::ExportAddressBook:
            exportAddressBook();
            return;
        case C::ImportText: {
            ImportRecipientsDialog dialog(store_.paths(), this);
            connect(&dialog, &ImportRecipientsDialog::groupsChanged, this,
                    &GroupWindow::groupsImported);
            dialog.exec();
            return;
        }
        case C::ImportAddressBook:
            if (importAddressBook(store_.paths(), this)) groupsImported();
            return;
        case C::GetUnsubscribers:
        case C::FilterUnsubscribers:
        case C::SaveUnsubscribed:
        case C::AutoUnsubscribe: {
            const SubscriptionCommands& commands = subscriptionCommands();
            if (!commands.run) return;
            QAction* toggle = actions_[C::AutoUnsubscribe];
            commands.run(c, toggle->isChecked(), this);
            toggle->setChecked(commands.autoUnsubscribe());
            // The filter rewrites group files: show the current group as it is now.
            if (c == C::FilterUnsubscribers) selectGroup(currentTreeGroup());
            return;
        }
    }
    if (!r.ok()) inform(this, r.message);
}

void GroupWindow::addGroup() {
    NameEntryDialog dialog(
        "Add New Group", "Group Name:", {},
        [this](const QString& typed) { return store_.createGroup(fromScreen(typed)); }, this);
    if (dialog.exec() != QDialog::Accepted) return;
    fillTree(currentTreeGroup());
    updateCommands();
}

void GroupWindow::modifyGroup() {
    std::optional<std::string> group = currentTreeGroup();
    if (!group) return inform(this, QString("Please select a group to modify."));
    std::string renamed;
    NameEntryDialog dialog(
        "Modify Group", "Modified Group Name:", toScreen(*group),
        [&](const QString& typed) {
            StoreResult r = store_.renameGroup(*group, fromScreen(typed));
            if (r.ok()) checkGroupName(fromScreen(typed), renamed);
            return r;
        },
        this);
    if (dialog.exec() != QDialog::Accepted) return;
    // The loaded group stays loaded under its new name.
    fillTree(renamed);
    updateStatus();
}

void GroupWindow::removeGroup() {
    std::optional<std::string> group = currentTreeGroup();
    if (!group) return inform(this, QString("Please select a group to delete."));
    if (!ask(this, toScreen(kAskDeleteGroup))) return;
    StoreResult r = store_.deleteGroup(*group);
    fillTree(std::nullopt);
    treeSelectionChanged();
    if (!r.ok()) inform(this, r.message);
}

void GroupWindow::addRecipient() {
    if (StoreResult check = store_.checkAdd(); !check.ok()) return inform(this, check.message);
    RecipientDialog dialog(store_, std::nullopt, this);
    connect(&dialog, &RecipientDialog::storeChanged, this, &GroupWindow::afterChange);
    dialog.exec();
}

void GroupWindow::paste() {
    StoreResult r = store_.paste(fromClipboard());
    afterChange();
    if (!r.ok()) return inform(this, r.message);
    for (const auto& notice : r.notices) inform(this, notice);
}

void GroupWindow::openFind() {
    if (!find_) {
        find_ = new FindDialog(
            store_,
            [this](const std::string& email, QWidget* parent) -> QMenu* {
                const Recipient* r = store_.recipient(email);
                return r ? recipientMenu(email, r->status, parent) : nullptr;
            },
            this);
    }
    find_->show();
    find_->raise();
    find_->activateWindow();
}

void GroupWindow::exportText() {
    if (StoreResult check = store_.checkExport(); !check.ok()) return inform(this, check.message);
    ExportDialog dialog(store_.rows(), files_, this);
    dialog.exec();
}

void GroupWindow::exportAddressBook() {
    if (StoreResult check = store_.checkExport(); !check.ok()) return inform(this, check.message);
    QString file =
        files_.save(this, "Please enter a filename to save", "vCard Files(*.vcf)", nullptr);
    if (file.isEmpty()) return;
    if (!file.endsWith(".vcf", Qt::CaseInsensitive)) file += ".vcf";
    inform(this, exportVCards(store_.rows(), fromScreen(file)).message);
}

// ---- The group set and closing.

bool GroupWindow::save() {
    StoreResult r = store_.save();
    if (r.status == StoreStatus::NeedsFileName) return saveAs();
    if (!r.ok()) inform(this, r.message);
    return r.ok();
}

bool GroupWindow::saveAs() {
    QString file = files_.save(this, "Please enter a filename to save", kListFilter, nullptr);
    if (file.isEmpty()) return false;
    StoreResult r = store_.saveAs(fromScreen(file));
    if (!r.ok()) inform(this, r.message);
    return r.ok();
}

bool GroupWindow::askToSaveFirst() {
    std::optional<std::string> question = store_.saveQuestion();
    if (!question || !ask(this, toScreen(*question))) return true;
    // Going on after a Yes whose save did not happen would delete the groups unsaved.
    return save();
}

bool GroupWindow::confirmClose() {
    stopLoading();
    if (!store_.saveQuestion()) return true;
    switch (askYesNoCancel(this, kAskSaveOnClose)) {
        case Answer::Yes:
            return save();
        case Answer::No:
            return true;
        case Answer::Cancel:
            return false;
    }
    return false;
}

void GroupWindow::reject() {
    // Esc, Close, Exit and the title bar all end here.
    if (closing_) return;
    closing_ = true;
    const bool go = confirmClose();
    closing_ = false;
    if (!go) return;
    if (find_) find_->close();
    QDialog::reject();
}

}  // namespace qm::ui
