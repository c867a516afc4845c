// The group management window offscreen: the tree, the grid with its colours and "<Unknown>", the
// context menus and what they change in the group file, the recipient and find dialogs, Stop while
// loading, the status line, and the close question. Screenshots go to $QUILLMARK_SCREENSHOTS.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "app/desktop_core.h"
#include "app/ui/main_window.h"
#include "common/ui/not_available.h"
#include "config/paths.h"
#include "config/settings.h"
#include "groups/group_files.h"
#include "groups/ui/export_dialog.h"
#include "groups/ui/find_dialog.h"
#include "groups/ui/group_window.h"
#include "groups/ui/name_entry_dialog.h"
#include "groups/ui/recipient_dialog.h"
#include "groups/ui/recipient_table_model.h"
#include "groups/ui/select_groups_dialog.h"
#include "ui_support.h"

namespace qm {
namespace {

using test::RecordedBoxes;
using ui::GroupCommand;
using ui::GroupWindow;
using F = RecipientField;

std::string line(const std::string& email, const std::string& name = "", char status = 'E') {
    return email + "," + name + ",,,,,,,,,,,," + status + "\r\n";
}

QStringList texts(const QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) out << a->text();
    return out;
}

QAction* actionNamed(const QMenu* menu, const QString& prefix) {
    for (QAction* a : menu->actions())
        if (a->text().startsWith(prefix)) return a;
    return nullptr;
}

// Runs `act` on the next modal dialog of type T as soon as it shows.
template <typename T>
void onNextModal(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* d = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(d);
        }
    });
    timer->start();
}

// A program folder with three groups: one of every status and field form, a long name, an empty.
class Window : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(paths.ensureFolders());
        write("Customers",
              // Empty title, a company stored with the comma stand-in, an escaped address.
              "ann@x.com,Ann,555,12%2A Main St,,Smith\xB8 Jones,,,,Oslo,,,Norway,E\r\n" +
                  line("bob@y.org", "Bob", 'D') + line("cy@x.com", "Cy", 'U') +
                  line("dee@x.com", "Dee"));
        write("Abcdefghijklmnopqrstuvwxyz", line("z@x.com"));
        write("Friends", "");
    }
    void write(const std::string& group, const std::string& content) {
        QFile f(QString::fromStdString(groupFilePath(paths, group)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content.data(), static_cast<qint64>(content.size()));
    }
    std::string read(const std::string& group) {
        QFile f(QString::fromStdString(groupFilePath(paths, group)));
        if (!f.open(QIODevice::ReadOnly)) return "<missing>";
        return f.readAll().toStdString();
    }
    void load(GroupWindow& w, const std::string& group) {
        w.selectGroup(group);
        ASSERT_TRUE(test::waitFor([&] { return !w.store().loading(); }));
    }
    QString cell(GroupWindow& w, int row, F field) {
        for (int c = 0; c < w.model()->columnCount(); ++c)
            if (ui::RecipientTableModel::fieldOfColumn(c) == field)
                return w.model()->index(row, c).data().toString();
        return "<no column>";
    }

    test::FreshProfile profile;
    Paths paths = Paths::current(SettingsStore::open());
};

TEST_F(Window, TreeGridColoursAndStatusLine) {
    RecordedBoxes boxes;
    GroupWindow w(paths);
    w.show();
    QTreeWidgetItem* root = w.tree()->topLevelItem(0);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->text(0), "Quillmark Groups");
    ASSERT_EQ(root->childCount(), 3);
    EXPECT_EQ(root->child(0)->text(0), "Abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(root->child(2)->text(0), "Friends");
    EXPECT_EQ(w.tree()->currentItem(), nullptr) << "opening selects nothing";
    EXPECT_EQ(w.statusLine()->text(), "\tGroup:\t\tRecipients:");
    EXPECT_EQ(w.statusLine()->toolTip(), "View Current Status");
    EXPECT_EQ(w.stopButton()->toolTip(), "Stop loading");
    EXPECT_FALSE(w.stopButton()->isEnabled());

    load(w, "Customers");
    EXPECT_EQ(w.statusLine()->text(), "\tGroup: Customers\t\tRecipients: 4");
    const QStringList headers = {"Name",          "Title",         "Company",    "Email Address",
                                 "Telephone",     "Mobile Number", "Fax Number", "Address 1",
                                 "Address 2",     "City",          "State",      "Zip Code",
                                 "Country/Region"};
    ASSERT_EQ(w.model()->columnCount(), 13);
    for (int c = 0; c < 13; ++c)
        EXPECT_EQ(w.model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), headers[c]);
    EXPECT_EQ(w.model()->rowCount(), 4 + 1) << "one empty row after the recipients";
    EXPECT_EQ(cell(w, 4, F::Email), "");
    EXPECT_EQ(cell(w, 0, F::Title), "<Unknown>");
    EXPECT_EQ(cell(w, 0, F::Company), "Smith, Jones");
    EXPECT_EQ(cell(w, 0, F::Address1), "12, Main St");
    EXPECT_EQ(cell(w, 0, F::Email), "ann@x.com");
    EXPECT_EQ(w.store().rows()[0].title, "") << "the stored title stays empty";
    struct {
        int row;
        QColor colour;
    } colours[] = {{0, Qt::white}, {1, QColor(255, 0, 0)}, {2, QColor(192, 0, 192)}};
    for (const auto& c : colours)
        for (int col : {0, 12})
            EXPECT_EQ(w.model()->index(c.row, col).data(Qt::BackgroundRole).value<QColor>(),
                      c.colour)
                << c.row << "/" << col;
    w.grid()->selectRow(3);  // a white row: the red and purple ones show their colours
    test::screenshot(&w, "group-window-grid");

    load(w, "Abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(w.statusLine()->text(), "\tGroup: Abcdefghijklmnopqrstuv...\t\tRecipients: 1");
    w.selectGroup(std::nullopt);
    EXPECT_EQ(w.statusLine()->text(), "\tGroup:\t\tRecipients:");
    EXPECT_EQ(w.model()->rowCount(), 1);
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join("|").toStdString();
}

TEST_F(Window, MenusShortcutsAndLaterFeatures) {
    GroupWindow w(paths);
    struct {
        GroupCommand c;
        const char* text;
        const char* keys;
    } rows[] = {
        {GroupCommand::New, "&New", "Ctrl+N"},
        {GroupCommand::Open, "Open", "Ctrl+O"},
        {GroupCommand::Save, "Save", "Ctrl+S"},
        {GroupCommand::Exit, "E&xit", "Esc"},
        {GroupCommand::Copy, "&Copy", "Ctrl+C"},
        {GroupCommand::Paste, "&Paste", "Ctrl+V"},
        {GroupCommand::AddGroup, "&Group...", "Ctrl+G"},
        {GroupCommand::AddRecipient, "&Recipient...", "Ctrl+R"},
        {GroupCommand::Find, "&Find...", "Ctrl+F"},
        {GroupCommand::ExportAddressBook, "Address Book (vCard)...", ""},
    };
    for (const auto& r : rows) {
        QAction* a = w.command(r.c);
        ASSERT_TRUE(a) << r.text;
        EXPECT_EQ(a->text(), r.text);
        EXPECT_EQ(a->shortcut(), QKeySequence(r.keys)) << r.text;
    }
    for (GroupCommand c : {GroupCommand::GetUnsubscribers, GroupCommand::FilterUnsubscribers,
                           GroupCommand::SaveUnsubscribed, GroupCommand::AutoUnsubscribe}) {
        EXPECT_FALSE(w.command(c)->isEnabled()) << w.command(c)->text().toStdString();
        EXPECT_EQ(w.command(c)->toolTip(), ui::kNotAvailableTip);
    }
    for (GroupCommand c :
         {GroupCommand::ExportText, GroupCommand::ImportText, GroupCommand::ImportAddressBook})
        EXPECT_TRUE(w.command(c)->isEnabled()) << w.command(c)->text().toStdString();
    EXPECT_FALSE(w.command(GroupCommand::Copy)->isEnabled()) << "no recipient selected";
    // The menu bar's keys reach the window.
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(w.findDialog() && w.findDialog()->isVisible());
}

TEST_F(Window, ContextMenusChangeRowsAndFile) {
    RecordedBoxes boxes;
    GroupWindow w(paths);
    w.show();
    // The tree's two menus.
    std::unique_ptr<QMenu> rootMenu(w.treeMenu(w.tree()->topLevelItem(0)));
    EXPECT_EQ(texts(rootMenu.get()),
              (QStringList{"&Add New Group...\tCtrl+G", "Remove All Groups"}));
    EXPECT_TRUE(rootMenu->actions()[1]->isEnabled());
    load(w, "Customers");
    std::unique_ptr<QMenu> groupMenu(w.treeMenu(w.tree()->currentItem()));
    EXPECT_EQ(texts(groupMenu.get()),
              (QStringList{"&Modify Group...\tCtrl+M", "&Copy All Recipients\tCtrl+A",
                           "&Delete Group\tDel", "&Add New Recipient...\tCtrl+R",
                           "Paste Recipient(s)\tCtrl+V", "&Remove All Recipients"}));
    groupMenu->popup(w.tree()->mapToGlobal(QPoint(40, 40)));
    test::screenshot(groupMenu.get(), "group-window-tree-menu");
    groupMenu->hide();

    // A white row offers Disable; after it the row is red and offers Enable.
    const Recipient* dee = w.model()->recipientAt(3);
    ASSERT_TRUE(dee);
    std::unique_ptr<QMenu> white(w.recipientMenu(dee->email, dee->status, &w));
    EXPECT_EQ(texts(white.get()), (QStringList{"Disable Recipient\tCtrl+D",
                                               "Modify Recipient\tCtrl+M", "Copy Recipient\tCtrl+C",
                                               "Cut Recipient\tCtrl+X", "Delete Recipient\tDel"}));
    white->popup(w.grid()->mapToGlobal(QPoint(60, 80)));
    test::screenshot(white.get(), "group-window-recipient-menu");
    actionNamed(white.get(), "Disable")->trigger();
    white->hide();
    EXPECT_EQ(w.model()->index(3, 0).data(Qt::BackgroundRole).value<QColor>(), QColor(255, 0, 0));
    EXPECT_NE(read("Customers").find(line("dee@x.com", "Dee", 'D')), std::string::npos);
    const Recipient* red = w.model()->recipientAt(3);
    std::unique_ptr<QMenu> redMenu(w.recipientMenu(red->email, red->status, &w));
    EXPECT_EQ(texts(redMenu.get()),
              (QStringList{"Enable Recipient\tCtrl+E", "Delete Recipient\tDel"}));

    // Copy puts the plain line on the clipboard; paste into another group adds it there.
    w.grid()->selectRow(0);
    w.runCommand(GroupCommand::Copy);
    // Other programs get the plain line (the stand-in shows as itself there).
    EXPECT_EQ(QApplication::clipboard()->text(),
              QString::fromUtf8(
                  "ann@x.com,Ann,555,12, Main St,,Smith\xC2\xB8 Jones,,,,Oslo,,,Norway,E\r\n"));
    load(w, "Friends");
    w.runCommand(GroupCommand::Paste);
    EXPECT_EQ(w.store().rows().size(), 1u);
    EXPECT_EQ(cell(w, 0, F::Company), "Smith, Jones");
    EXPECT_EQ(cell(w, 0, F::Address1), "12, Main St");
    EXPECT_EQ(w.statusLine()->text(), "\tGroup: Friends\t\tRecipients: 1");
    w.runCommand(GroupCommand::Paste);
    EXPECT_EQ(boxes.shown, QStringList{"Clipboard contained some duplicate or invalid recipients. "
                                       "They were automatically filtered."});

    // Delete through the grid's key; the file loses the line. The menus shown above go first: a
    // popup's window can still count as the active one until the event loop has moved on, for
    // as long as a busy machine takes.
    groupMenu.reset();
    white.reset();
    redMenu.reset();
    load(w, "Customers");
    w.activateWindow();
    ASSERT_TRUE(test::waitFor([&] { return w.isActiveWindow(); }));
    w.grid()->setFocus();
    w.grid()->selectRow(1);
    QTest::keyClick(w.grid(), Qt::Key_Delete);
    EXPECT_EQ(read("Customers").find("bob@y.org"), std::string::npos);
    EXPECT_EQ(w.model()->rowCount(), 3 + 1);
}

TEST_F(Window, RecipientDialogChecksAsksAndClears) {
    RecordedBoxes boxes;
    GroupWindow w(paths);
    load(w, "Friends");
    ui::RecipientDialog add(w.store(), std::nullopt, &w);
    QObject::connect(&add, &ui::RecipientDialog::storeChanged, &w, [&] { w.model()->reset(); });
    add.show();
    EXPECT_EQ(add.windowTitle(), "Add Recipient");
    EXPECT_EQ(add.submitButton()->text(), "&Add");
    add.setFieldText(F::Email, "not an address");
    add.submit();
    EXPECT_EQ(boxes.shown.takeLast(), "Email address entered is not valid.");
    EXPECT_TRUE(add.isVisible()) << "a refusal keeps the dialog open";
    add.setFieldText(F::Email, "new@x.com");
    add.setFieldText(F::Name, "Ann2");
    add.submit();
    EXPECT_EQ(boxes.shown.takeLast(), "Recipient's name can contain only alphabets.");
    add.setFieldText(F::Name, "New One");
    add.setFieldText(F::Address1, "1, Elm");  // 7 characters: asks
    add.setFieldText(F::Company, "Smith, Jones");
    add.clearAfterAddition()->setChecked(true);
    boxes.answers = {false};
    add.submit();
    EXPECT_EQ(boxes.asked.takeLast(), "Address is too small. Do you wish to continue anyway?");
    EXPECT_TRUE(w.store().rows().empty()) << "No stops";
    boxes.answers = {true};
    test::screenshot(&add, "group-recipient-dialog-add");
    add.submit();
    ASSERT_EQ(w.store().rows().size(), 1u);
    EXPECT_EQ(read("Friends"), "new@x.com,New One,,1%2A Elm,,Smith\xB8 Jones,,,,,,,,E\r\n");
    EXPECT_TRUE(add.isVisible()) << "cleared for the next one";
    EXPECT_EQ(add.fieldText(F::Email), "");
    add.setFieldText(F::Email, "new@x.com");
    add.submit();
    EXPECT_EQ(boxes.shown.takeLast(), "Email address entered already exists in the group.");

    // Modify shows the record as typed, and saves a disabled one enabled.
    ASSERT_TRUE(w.store().setRecipientStatus("new@x.com", RecipientStatus::Disabled).ok());
    ui::RecipientDialog modify(w.store(), std::string("new@x.com"), &w);
    modify.show();
    EXPECT_EQ(modify.windowTitle(), "Modify Recipient");
    EXPECT_EQ(modify.submitButton()->text(), "&Modify");
    EXPECT_EQ(modify.clearAfterAddition(), nullptr);
    EXPECT_EQ(modify.fieldText(F::Address1), "1, Elm");
    EXPECT_EQ(modify.fieldText(F::Company), "Smith, Jones");
    test::screenshot(&modify, "group-recipient-dialog-modify");
    boxes.answers = {true};
    modify.submit();
    EXPECT_FALSE(modify.isVisible());
    EXPECT_EQ(read("Friends"), "new@x.com,New One,,1%2A Elm,,Smith\xB8 Jones,,,,,,,,E\r\n");
}

TEST_F(Window, FindDialogSearchesAndItsRowsOfferTheCommands) {
    RecordedBoxes boxes;
    GroupWindow w(paths);
    w.show();
    load(w, "Customers");
    w.runCommand(GroupCommand::Find);
    ui::FindDialog* find = w.findDialog();
    ASSERT_TRUE(find);
    EXPECT_EQ(find->windowTitle(), "Find Recipients in Group");
    EXPECT_EQ(find->operatorList()->count(), 4);
    find->searchBy()->setCurrentIndex(1);  // Name
    EXPECT_EQ(find->operatorList()->count(), 3) << "no Domain Is for names";
    find->searchBy()->setCurrentIndex(0);
    find->operatorList()->setCurrentIndex(3);
    EXPECT_EQ(find->operatorList()->currentText(), "Domain Is");
    find->expression()->setText("X.COM");
    find->runFind();
    EXPECT_EQ(find->resultModel()->recipientCount(), 3);
    EXPECT_EQ(find->resultModel()->rowCount(), 4);
    find->expression()->setText("my-shop.example");
    find->runFind();
    EXPECT_TRUE(boxes.shown.isEmpty()) << "a hyphen is allowed in addresses";
    find->expression()->setText("x(y");
    find->runFind();
    EXPECT_EQ(boxes.shown.takeLast(), "Invalid characters detected.");
    find->expression()->setText("x.com");
    find->runFind();
    find->results()->selectRow(0);
    test::screenshot(find, "group-find-dialog");

    std::unique_ptr<QMenu> menu(find->menuForRow(1));  // cy@x.com, unsubscribed
    ASSERT_TRUE(menu);
    EXPECT_EQ(texts(menu.get()),
              (QStringList{"Enable Recipient\tCtrl+E", "Delete Recipient\tDel"}));
    actionNamed(menu.get(), "Delete")->trigger();
    EXPECT_EQ(read("Customers").find("cy@x.com"), std::string::npos);
    EXPECT_EQ(find->resultModel()->recipientCount(), 2) << "results follow the group";
    EXPECT_EQ(w.model()->recipientCount(), 3);
    EXPECT_EQ(w.statusLine()->text(), "\tGroup: Customers\t\tRecipients: 3");
}

// An imported "Smith, John" is stored with the comma stand-in and shown with a comma: modifying
// the recipient must not trip over the comma the store itself wrote, while a comma the user types
// into a letters-only field is still refused.
TEST_F(Window, NameWithStoredCommaCanBeModified) {
    RecordedBoxes boxes;
    write("Imported", "js@x.com,Smith\xB8 John,,,Dr\xB8 Prof,,,,,,,,,E\r\n");
    GroupWindow w(paths);
    load(w, "Imported");
    {
        ui::RecipientDialog modify(w.store(), std::string("js@x.com"), &w);
        modify.show();
        EXPECT_EQ(modify.fieldText(F::Name), "Smith, John");
        EXPECT_EQ(modify.fieldText(F::Title), "Dr, Prof");
        modify.setFieldText(F::Title, "Dr, Prof, Extra");
        modify.submit();
        EXPECT_EQ(boxes.shown.takeLast(), "Recipient's title can contain only alphabets.");
        modify.setFieldText(F::Title, "Dr, Prof");
        modify.setFieldText(F::Name, "Smith, Johnny");  // the shown comma, a changed name
        modify.submit();
        EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join("|").toStdString();
        EXPECT_FALSE(modify.isVisible());
    }
    EXPECT_EQ(read("Imported"), "js@x.com,Smith\xB8 Johnny,,,Dr\xB8 Prof,,,,,,,,,E\r\n");
    // A name without a stand-in takes no comma.
    ui::RecipientDialog add(w.store(), std::nullopt, &w);
    add.setFieldText(F::Email, "new@x.com");
    add.setFieldText(F::Name, "Doe, Jane");
    add.submit();
    EXPECT_EQ(boxes.shown.takeLast(), "Recipient's name can contain only alphabets.");
}

// "Add New Group" and "Modify Group": a refused name is shown and the dialog stays open with it.
TEST_F(Window, GroupNameDialogAddsRenamesAndStaysOpenOnRefusal) {
    RecordedBoxes boxes;
    GroupWindow w(paths);
    w.show();
    struct Case {
        GroupCommand command;
        const char* title;
        const char* shown;  // the name in the field when it opens
        const char* taken;
        const char* refusal;
        const char* chosen;
        const char* screenshot;
    } cases[] = {
        {GroupCommand::AddGroup, "Add New Group", "", "friends",
         "Group with same name already exists.", "Partners", "group-name-add"},
        {GroupCommand::ModifyGroup, "Modify Group", "Partners", "Customers",
         "Cannot modify as a group with same name already exists.", "Suppliers",
         "group-name-modify"},
    };
    for (const Case& c : cases) {
        bool seen = false;
        onNextModal<ui::NameEntryDialog>([&](ui::NameEntryDialog* d) {
            seen = true;
            EXPECT_EQ(d->windowTitle(), c.title);
            EXPECT_EQ(d->field()->text(), c.shown);
            test::screenshot(d, c.screenshot);
            d->field()->setText(c.taken);
            d->submit();
            EXPECT_EQ(boxes.shown, QStringList{c.refusal});
            boxes.shown.clear();
            EXPECT_TRUE(d->isVisible());
            EXPECT_EQ(d->field()->text(), c.taken);
            d->field()->setText(c.chosen);
            d->submit();
            EXPECT_FALSE(d->isVisible());
        });
        w.command(c.command)->trigger();
        ASSERT_TRUE(seen) << c.title;
        EXPECT_EQ(read(c.chosen), "") << c.title;
        if (c.command == GroupCommand::AddGroup) load(w, c.chosen);
    }
    EXPECT_EQ(read("Partners"), "<missing>");
    EXPECT_EQ(read("Customers").substr(0, 4), "ann@");
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join("|").toStdString();
}

TEST_F(Window, StopWhileLoadingKeepsThePartAndRefusesAdd) {
    RecordedBoxes boxes;
    std::string big;
    for (int i = 0; i < 32000; ++i) big += line("u" + std::to_string(i) + "@x.com");
    write("Big", big);
    GroupWindow w(paths);
    w.setSlicesPerBatch(1);  // a part, however fast the machine
    w.show();
    w.selectGroup(std::string("Big"));
    EXPECT_EQ(w.statusLine()->text(), "\tLoading group: Big");
    EXPECT_TRUE(w.stopButton()->isEnabled());
    QApplication::processEvents();  // one batch
    w.stopButton()->click();
    EXPECT_FALSE(w.store().loading());
    EXPECT_EQ(w.statusLine()->text(), "\tLoading stopped for group: Big");
    EXPECT_FALSE(w.stopButton()->isEnabled());
    const int part = w.model()->recipientCount();
    EXPECT_GT(part, 0);
    EXPECT_LT(part, 32000);
    test::screenshot(&w, "group-window-stopped");
    w.runCommand(GroupCommand::AddRecipient);
    EXPECT_EQ(boxes.shown.takeLast(), "Sorry, cannot add as group is not fully loaded.");

    load(w, "Big");  // loading again completes
    EXPECT_EQ(w.model()->recipientCount(), 32000);
    EXPECT_EQ(w.statusLine()->text(), "\tGroup: Big\t\tRecipients: 32000");
    w.runCommand(GroupCommand::AddRecipient);
    EXPECT_EQ(boxes.shown.takeLast(), "You cannot add more than 32,000 emails to a group.");
}

// A change made while a group is still loading must not be undone by the rest of the load: the
// text read at the start still holds the old lines (here a later identical line of ann).
TEST_F(Window, ChangesWhileLoadingHoldForTheWholeGroup) {
    std::string big = line("ann@x.com", "Ann");
    for (int i = 0; i < 2000; ++i) big += line("u" + std::to_string(i) + "@x.com");
    big += line("ann@x.com", "Ann");
    const int lines = 2002;
    struct Case {
        const char* name;
        std::function<void(GroupWindow&)> act;
        int rows;        // rows once the dust settles, as in the file
        int annRows;     // rows of ann
        char annStatus;  // the status they show
    };
    const Case cases[] = {
        {"disable",
         [](GroupWindow& w) {
             w.runRecipientCommand(ui::RecipientCommand::Disable, "ann@x.com", &w);
         },
         lines, 2, 'D'},
        {"delete",
         [](GroupWindow& w) {
             w.runRecipientCommand(ui::RecipientCommand::Delete, "ann@x.com", &w);
         },
         lines - 2, 0, ' '},
        {"remove all", [](GroupWindow& w) { w.runCommand(GroupCommand::RemoveAllRecipients); }, 0,
         0, ' '},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordedBoxes boxes;
        boxes.answers = {true};  // "remove all?" Yes
        write("Big", big);
        GroupWindow w(paths);
        w.setSlicesPerBatch(1);
        w.show();
        w.selectGroup(std::string("Big"));
        QApplication::processEvents();  // one batch: ann's first line is in, the second is not
        ASSERT_TRUE(w.store().loading());
        ASSERT_TRUE(w.store().recipient("ann@x.com"));
        c.act(w);
        EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join("|").toStdString();
        ASSERT_TRUE(test::waitFor([&] { return !w.store().loading(); }));
        QApplication::processEvents();  // a batch still queued finds nothing to do
        EXPECT_TRUE(w.store().fullyLoaded());
        EXPECT_FALSE(w.stopButton()->isEnabled());
        EXPECT_EQ(w.model()->recipientCount(), c.rows);
        EXPECT_EQ(w.statusLine()->text(), QString("\tGroup: Big\t\tRecipients: %1").arg(c.rows));
        int ann = 0;
        for (const Recipient& r : w.store().rows())
            if (r.email == "ann@x.com") {
                ++ann;
                EXPECT_EQ(statusLetter(r.status), c.annStatus);
            }
        EXPECT_EQ(ann, c.annRows);
        // The rows are the file, line for line.
        std::vector<Recipient> inFile;
        const QStringList fileLines =
            QString::fromStdString(read("Big")).split("\r\n", Qt::SkipEmptyParts);
        for (const QString& l : fileLines) inFile.push_back(parseGroupLine(l.toStdString()));
        EXPECT_TRUE(inFile == w.store().rows());
        EXPECT_TRUE(w.store().checkAdd().ok()) << "fully loaded: add may start";
    }
}

TEST_F(Window, CloseAsksAboutUnsavedChangesOnly) {
    RecordedBoxes boxes;
    {
        GroupWindow w(paths);
        w.show();
        boxes.choices = {ui::Answer::Cancel};
        w.closeButton()->click();
        EXPECT_EQ(boxes.asked, QStringList{"Do you want to save the changes?"});
        EXPECT_TRUE(w.isVisible()) << "Cancel stays";
        // Yes saves through Save As; a cancelled file choice keeps the window open.
        ui::FileChoice files;
        QString file = QString::fromStdString(profile.dir.file("set"));
        bool cancel = true;
        files.save = [&](QWidget*, const QString&, const QString&, QString*) {
            return cancel ? QString() : file;
        };
        w.setFileChoice(files);
        boxes.choices = {ui::Answer::Yes};
        w.command(GroupCommand::Exit)->trigger();
        EXPECT_TRUE(w.isVisible()) << "nothing was saved";
        cancel = false;
        boxes.choices = {ui::Answer::Yes};
        w.command(GroupCommand::Exit)->trigger();
        EXPECT_FALSE(w.isVisible());
        EXPECT_TRUE(QFile::exists(file + ".hvt"));
    }
    {
        // Right after opening a group-list file the set counts as saved: nothing is asked.
        boxes.asked.clear();
        GroupWindow w(paths);
        ui::FileChoice files;
        files.open = [&](QWidget*, const QString&, const QString&) {
            return QString::fromStdString(profile.dir.file("set.hvt"));
        };
        w.setFileChoice(files);
        w.show();
        boxes.answers = {false};  // "save this data first?" No
        w.runCommand(GroupCommand::Open);
        EXPECT_EQ(w.tree()->topLevelItem(0)->childCount(), 3);
        boxes.asked.clear();
        w.close();
        EXPECT_TRUE(boxes.asked.isEmpty()) << boxes.asked.join("|").toStdString();
        EXPECT_FALSE(w.isVisible());
    }
    // The real question, as the user sees it.
    QMessageBox box(QMessageBox::Question, "Quillmark", "Do you want to save the changes?",
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    test::screenshot(&box, "group-window-close-question");
}

TEST_F(Window, ExportDialogWritesAndReportsFailure) {
    RecordedBoxes boxes;
    GroupWindow w(paths);
    load(w, "Customers");
    ui::ExportDialog dialog(w.store().rows(), {}, &w);
    dialog.show();
    EXPECT_EQ(dialog.separatorList()->itemText(0), "Enter");
    dialog.modeList()->setCurrentIndex(1);  // Emails And Name
    EXPECT_EQ(dialog.separatorList()->itemText(0), "Comma");
    dialog.separatorList()->setCurrentIndex(2);
    QString csv = QString::fromStdString(profile.dir.file("out.csv"));
    dialog.outputFile()->setText(csv);
    EXPECT_FALSE(dialog.separatorList()->isEnabled());
    EXPECT_EQ(dialog.separatorList()->currentText(), "Comma");
    test::screenshot(&dialog, "group-export-dialog");
    dialog.exportButton()->click();
    EXPECT_EQ(boxes.shown.takeLast(), "Recipients has been successfully exported.");
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("Name,Email\r\nAnn,ann@x.com\r\n"));
    dialog.outputFile()->setText("/nonexistent-folder/out.txt");
    dialog.exportButton()->click();
    EXPECT_TRUE(boxes.shown.takeLast().startsWith("Failed to save data."));
}

TEST_F(Window, OpenedFromMainWindowAndSelectGroups) {
    RecordedBoxes boxes;
    {
        DesktopCore core;
        ui::MainWindow main(core);
        QAction* a = main.action(Command::GroupManagement);
        ASSERT_TRUE(a);
        EXPECT_TRUE(a->isEnabled());
        bool opened = false;
        onNextModal<GroupWindow>([&](GroupWindow* gw) {
            opened = gw->windowTitle() == "Group Management";
            // The unsubscriber screens come from the main window while it lives.
            for (GroupCommand c :
                 {GroupCommand::GetUnsubscribers, GroupCommand::FilterUnsubscribers,
                  GroupCommand::SaveUnsubscribed, GroupCommand::AutoUnsubscribe})
                EXPECT_TRUE(gw->command(c)->isEnabled()) << gw->command(c)->text().toStdString();
            QAction* toggle = gw->command(GroupCommand::AutoUnsubscribe);
            const bool was = toggle->isChecked();
            boxes.choices = {ui::Answer::Yes};  // turning it off asks first
            toggle->trigger();
            EXPECT_EQ(toggle->isChecked(), !was);
            EXPECT_EQ(main.action(Command::AutoUnsubscribe)->isChecked(), !was);
            boxes.choices = {ui::Answer::No};
            gw->close();
        });
        a->trigger();
        EXPECT_TRUE(opened);
    }
    ui::SelectGroupsDialog select(paths, "Customers;");
    select.show();
    ASSERT_TRUE(select.groupManagementButton()->isEnabled());
    onNextModal<GroupWindow>([&](GroupWindow* gw) {
        EXPECT_FALSE(gw->command(GroupCommand::GetUnsubscribers)->isEnabled())
            << "offered only while the main window lives";
        ASSERT_TRUE(gw->store().deleteGroup("Friends").ok());
        boxes.choices = {ui::Answer::No};
        gw->close();
    });
    select.groupManagementButton()->click();
    EXPECT_EQ(select.list()->count(), 2) << "listed again";
    EXPECT_EQ(select.selection(), "") << "emptied";
}

}  // namespace
}  // namespace qm
