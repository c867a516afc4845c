// "Columns of a CSV file" in Import Recipients: the column choices come from the chosen file's
// header row, the guess is shown before the run, and the column the user picks is the one taken.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

#include "config/paths.h"
#include "groups/group_files.h"
#include "groups/ui/import_recipients_dialog.h"
#include "ui_support.h"

namespace qm {
namespace {

TEST(ImportRecipientsDialog, CsvColumnsFromTheHeaderRow) {
    test::FreshProfile profile;
    test::RecordedBoxes boxes;
    Paths paths(profile.home());
    ASSERT_TRUE(paths.ensureFolders());
    ui::ImportRecipientsDialog dialog(paths);
    dialog.show();

    EXPECT_FALSE(dialog.emailColumn()->isEnabled());
    dialog.csvColumns()->click();
    dialog.source()->setText(QString(QM_IMPORT_FIXTURES) + "/outlook.csv");
    ASSERT_TRUE(dialog.emailColumn()->isEnabled());
    EXPECT_FALSE(dialog.delimiter()->isEnabled());
    EXPECT_EQ(dialog.emailColumn()->count(), 18);  // the guess, then the 17 header names
    EXPECT_EQ(dialog.emailColumn()->currentText(), "E-mail Address") << "the guess is shown";
    EXPECT_EQ(dialog.nameColumn()->currentIndex(), 0) << "first and last name, no name column";

    dialog.emailColumn()->setCurrentText("E-mail 2 Address");
    QSignalSpy finished(&dialog, &ui::ImportRecipientsDialog::importFinished);
    dialog.importButton()->click();
    ASSERT_TRUE(test::waitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(boxes.shown, QStringList{"File has been imported successfully."});
    std::vector<std::string> groups = listGroups(paths);
    ASSERT_EQ(groups.size(), 1u);
    std::vector<Recipient> members;
    ASSERT_TRUE(readGroupFile(groupFilePath(paths, groups[0]), members));
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].email, "js@home.example");
    EXPECT_EQ(members[0].name, "John Smith");
    test::screenshot(&dialog, "import_recipients_columns");
}

}  // namespace
}  // namespace qm
