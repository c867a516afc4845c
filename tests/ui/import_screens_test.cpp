// The import screens: "Import Recipients" with its inputs and its run, the address-book import,
// the sheet name dialog, and the main window's Import Email Address with Stop Importing.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <algorithm>
#include <cmath>

#include "app/desktop_core.h"
#include "app/ui/campaign_form.h"
#include "app/ui/main_window.h"
#include "common/file_util.h"
#include "common/ui/look.h"
#include "config/paths.h"
#include "groups/group_files.h"
#include "groups/ui/import_recipients_dialog.h"
#include "groups/ui/sheet_name_dialog.h"
#include "ui_support.h"

namespace qm {
namespace {

using test::RecordedBoxes;

TEST(ImportRecipientsDialog, InputsFollowTheChoicesAndTheRunWritesGroups) {
    test::FreshProfile profile;
    RecordedBoxes boxes;
    Paths paths(profile.home());
    ASSERT_TRUE(paths.ensureFolders());
    ui::ImportRecipientsDialog dialog(paths);
    dialog.show();

    // Names take no "Enter"; sub-folders only with a folder; the delimiter only for ".txt".
    EXPECT_EQ(dialog.delimiter()->itemText(0), "Enter");
    test::screenshot(&dialog, "import_recipients_emails_only");
    QApplication::processEvents();
    const QSize before = dialog.size();
    dialog.emailsAndName()->click();
    QApplication::processEvents();
    EXPECT_EQ(dialog.size(), before) << "the format hint has its place from the start";
    test::screenshot(&dialog, "import_recipients_names");
    EXPECT_EQ(dialog.delimiter()->count(), 2);
    EXPECT_EQ(dialog.delimiter()->itemText(0), "Comma");
    EXPECT_FALSE(dialog.subdirectories()->isEnabled());
    dialog.fromDirectory()->click();
    EXPECT_TRUE(dialog.subdirectories()->isEnabled());
    dialog.fromFile()->click();
    dialog.source()->setText("/x/list.csv");
    EXPECT_FALSE(dialog.delimiter()->isEnabled());

    dialog.source()->clear();
    dialog.importButton()->click();
    EXPECT_EQ(boxes.shown, QStringList{"Please select a proper source to import recipients."});
    boxes.shown.clear();

    profile.dir.write("names.txt", "Smith, John;john@x.com\r\nAnn;ann@x.com\r\n");
    dialog.source()->setText(QString::fromStdString(profile.dir.file("names.txt")));
    ASSERT_TRUE(dialog.delimiter()->isEnabled());
    dialog.delimiter()->setCurrentText("Semicolon");
    QSignalSpy changed(&dialog, &ui::ImportRecipientsDialog::groupsChanged);
    QSignalSpy finished(&dialog, &ui::ImportRecipientsDialog::importFinished);
    dialog.importButton()->click();
    EXPECT_FALSE(dialog.importButton()->isEnabled());
    ASSERT_TRUE(test::waitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(boxes.shown, QStringList{"File has been imported successfully."});
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(dialog.importButton()->isEnabled());
    EXPECT_FALSE(dialog.stopButton()->isEnabled());
    std::vector<std::string> groups = listGroups(paths);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(profile.dir.read("home/GroupRecipients/" + groupFileName(groups[0])),
              "john@x.com,Smith\xB8 John,,,,,,,,,,,,E\r\nann@x.com,Ann,,,,,,,,,,,,E\r\n");
    test::screenshot(&dialog, "import_recipients");
}

// Relative luminance contrast of two colours, 1 (none) to 21 (black on white).
double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// In quillmark's dialog look a disabled text on the dialog's own background stays readable (the
// style's grey once left "Include sub directories" a bare square).
TEST(ImportRecipientsDialog, DisabledTextsStayReadableOnTheDialogBackground) {
    test::FreshProfile profile;
    ui::applyDialogLook(*qApp);
    ui::ImportRecipientsDialog dialog(Paths(profile.home()));
    dialog.show();
    QApplication::processEvents();
    ASSERT_FALSE(dialog.subdirectories()->isEnabled());
    const QColor background = dialog.palette().color(QPalette::Window);
    QList<QWidget*> texts;
    for (QWidget* w : dialog.findChildren<QWidget*>())
        if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
            qobject_cast<QGroupBox*>(w))
            if (!qobject_cast<QPushButton*>(w)) texts << w;  // buttons have their own face
    ASSERT_TRUE(texts.contains(dialog.subdirectories()));
    for (QWidget* w : texts)
        for (auto group : {QPalette::Active, QPalette::Disabled})
            EXPECT_GE(contrast(w->palette().color(group, w->foregroundRole()), background), 3.0)
                << w->metaObject()->className() << " "
                << (qobject_cast<QAbstractButton*>(w)
                        ? qobject_cast<QAbstractButton*>(w)->text().toStdString()
                        : w->objectName().toStdString())
                << (group == QPalette::Disabled ? " disabled" : "");
}

TEST(ImportRecipientsDialog, AddressBookFileBecomesAGroup) {
    test::FreshProfile profile;
    RecordedBoxes boxes;
    Paths paths(profile.home());
    ASSERT_TRUE(paths.ensureFolders());
    EXPECT_TRUE(ui::importAddressBookFile(
        paths, QString(QM_IMPORT_FIXTURES) + "/contacts_vobject.vcf", nullptr));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].startsWith("Emails successfully imported from the address book."));
    EXPECT_EQ(listGroups(paths).size(), 1u);
    EXPECT_FALSE(ui::importAddressBookFile(paths, "/no/such.vcf", nullptr));
}

TEST(SheetNameDialog, OffersTheSheetsAndChecksTheName) {
    RecordedBoxes boxes;
    ui::SheetNameDialog dialog({"People", "Other"});
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Enter Sheet Name");
    EXPECT_EQ(dialog.nameField()->currentText(), "People");
    EXPECT_EQ(dialog.nameField()->count(), 2);
    test::screenshot(&dialog, "sheet_name");
    dialog.nameField()->setEditText("a[1]");
    dialog.accept();
    EXPECT_EQ(boxes.shown, QStringList{"Invalid charaters(\\/?*[]:) detected."});
    EXPECT_TRUE(dialog.isVisible());
    dialog.nameField()->setEditText(" Other ");
    dialog.accept();
    EXPECT_EQ(dialog.name(), "Other");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(MainWindowImport, SheetAddressesGoIntoTheRecipientsBox) {
    test::FreshProfile profile;
    RecordedBoxes boxes;
    DesktopCore core;
    ui::MainWindow window(core);
    window.show();
    QAction* import = window.action(Command::ImportAddresses);
    EXPECT_TRUE(import->isEnabled());
    EXPECT_EQ(import->shortcut(), QKeySequence("Ctrl+I"));
    EXPECT_FALSE(window.action(Command::StopImporting)->isEnabled());

    window.form()->recipients()->setPlainText("first@example.com");
    window.importFrom(QString(QM_IMPORT_FIXTURES) + "/people.xlsx", std::string("People"));
    EXPECT_TRUE(window.commandState().importing);
    EXPECT_TRUE(window.action(Command::StopImporting)->isEnabled());
    EXPECT_FALSE(import->isEnabled());
    ASSERT_TRUE(test::waitFor([&] { return !window.commandState().importing; }));
    EXPECT_EQ(window.form()->recipients()->toPlainText(),
              "first@example.com;ann.lee@example.com;zoe@example.org;bob@example.com;"
              "last@example.net;");
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join("|").toStdString();
    EXPECT_TRUE(window.statusBar()->currentMessage().isEmpty());
    test::screenshot(&window, "main_window_import");

    profile.dir.write("none.txt", "no addresses");
    window.importFrom(QString::fromStdString(profile.dir.file("none.txt")));
    ASSERT_TRUE(test::waitFor([&] { return !window.commandState().importing; }));
    EXPECT_EQ(boxes.shown, QStringList{"No email address can be extracted."});
}

}  // namespace
}  // namespace qm
