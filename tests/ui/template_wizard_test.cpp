// The template wizard's pages driven offscreen: the thumbnail click rule, the target chooser, the
// checks with their messages and focus, the defaults of the pictures, the finishing page, and the
// page taken into the message the "Insert Webpage..." way. Screenshots of every page, and of the
// finishing page of every design, go to $QUILLMARK_SCREENSHOTS.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/desktop_core.h"
#include "app/ui/main_window.h"
#include "config/data_folder.h"
#include "message/html_tools.h"
#include "message/template_wizard.h"
#include "message/ui/preview_view.h"
#include "message/ui/template_wizard_dialog.h"
#include "ui_support.h"

namespace qm {
namespace {

using test::RecordedBoxes;
using ui::TemplateWizardDialog;

// Answers "Save Template As" with `target` (empty: cancelled) and counts the questions.
struct ScriptedFiles {
    QString target;
    QString picked;
    int saves = 0;
    ui::FileChoice choice() {
        return {[this](QWidget*, const QString& title, const QString& filters, QString*) {
                    EXPECT_EQ(title, "Save Template As");
                    EXPECT_EQ(filters, "Html Files(*.htm)");
                    ++saves;
                    return target;
                },
                [this](QWidget*, const QString&, const QString& filters) {
                    EXPECT_EQ(filters, "Image Files(*.gif *.jpg)");
                    return picked;
                }};
    }
};

QString dataFolder() {
    return QString::fromStdString(installedDataFolder());
}

bool showFinished(ui::PreviewView* view) {
    bool loaded = false;
    QObject::connect(view, &QWebEngineView::loadFinished, view, [&loaded] { loaded = true; });
    if (!test::waitFor([&] { return loaded; })) return false;
    // The pictures are decoded and painted after the load ends.
    test::waitFor([] { return false; }, 1500);
    return true;
}

TEST(TemplateWizard, PagesCheckInOrderAndTheFinishedPageIsShown) {
    ASSERT_FALSE(dataFolder().isEmpty()) << "the drawn pictures are missing";
    test::TempDir out;
    RecordedBoxes boxes;
    ScriptedFiles files;
    TemplateWizardDialog w(dataFolder(), files.choice());
    w.show();
    EXPECT_EQ(w.currentId(), TemplateWizardDialog::SelectTemplate);

    w.clickThumbnails({110, 120});  // second column, second row: design 3
    EXPECT_EQ(w.state().design, 3);
    w.clickThumbnails({30, 280});  // the seventh cannot be picked
    EXPECT_EQ(w.state().design, 3);
    w.clickThumbnails({95, 120});  // between the columns
    EXPECT_EQ(w.state().design, 3);
    w.clickThumbnails({30, 120});
    EXPECT_EQ(w.state().design, 2);
    test::screenshot(&w, "template-wizard-1-select");

    w.next();  // chooser cancelled: stays
    EXPECT_EQ(w.currentId(), TemplateWizardDialog::SelectTemplate);
    files.target = QString::fromStdString(out.file("Offer.HTM"));
    w.next();
    ASSERT_EQ(w.currentId(), TemplateWizardDialog::Links);
    EXPECT_EQ(w.state().targetPath, out.file("Offer.HTM.htm"));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(out.file("Images"))).isDir());

    w.field(WizardField::Link1Text)->setText("  ");
    w.field(WizardField::Website)->setText("WWW.Shop.example\\Home");
    test::screenshot(&w, "template-wizard-2-links");
    w.next();
    EXPECT_EQ(w.currentId(), TemplateWizardDialog::Links);
    EXPECT_EQ(boxes.shown.value(0), "Link1 text field cannot be empty.");
    EXPECT_TRUE(w.field(WizardField::Link1Text)->hasFocus());
    EXPECT_EQ(w.field(WizardField::Website)->text(), "http://www.Shop.example/Home");
    w.field(WizardField::Link1Text)->setText("Buy <now>");
    w.next();
    ASSERT_EQ(w.currentId(), TemplateWizardDialog::Texts);
    EXPECT_EQ(w.field(WizardField::Salutation)->text(), "Dear Friend,");

    w.textField(WizardField::Highlights)->setPlainText("1\n2\n3\n4\n5\n6\n7");
    test::screenshot(&w, "template-wizard-3-texts");
    w.next();
    EXPECT_EQ(w.currentId(), TemplateWizardDialog::Texts);
    EXPECT_EQ(boxes.shown.value(1), "More than 6 highlights are not allowed.");
    w.textField(WizardField::Highlights)->setPlainText("Fast\nCheap & good");
    w.next();
    ASSERT_EQ(w.currentId(), TemplateWizardDialog::Images);
    EXPECT_EQ(w.field(WizardField::Image)->text(), dataFolder() + "/Images/img31.jpg");
    EXPECT_EQ(w.field(WizardField::Logo)->text(), dataFolder() + "/Images/img32.jpg");
    test::screenshot(&w, "template-wizard-4-images");

    w.field(WizardField::Logo)->clear();
    w.next();
    EXPECT_EQ(boxes.shown.value(2), "Please enter the path of logo.");
    w.useLogoBox()->setChecked(false);
    EXPECT_FALSE(w.field(WizardField::Logo)->isEnabled());
    w.next();
    ASSERT_EQ(w.currentId(), TemplateWizardDialog::Finishing);
    EXPECT_EQ(boxes.shown.size(), 3) << boxes.shown.join(" | ").toStdString();
    EXPECT_FALSE(w.button(QWizard::CancelButton)->isEnabled());
    EXPECT_TRUE(w.insertBox()->isChecked());
    ASSERT_TRUE(showFinished(w.finishedView()));
    test::screenshot(&w, "template-wizard-5-finishing");
    w.reject();  // Escape on the finishing page
    EXPECT_TRUE(w.isVisible());

    const GeneratedPage page = readGeneratedPage(out.read("Offer.HTM.htm"));
    EXPECT_EQ(page.pictureCount, 5) << "image and four fixed pictures, no logo";
    EXPECT_NE(out.read("Offer.HTM.htm").find("Buy &lt;now&gt;"), std::string::npos);
    EXPECT_EQ(files.saves, 2) << "asked once more after the cancel, not on every Next";

    w.back();  // going back and forth keeps the texts as typed: no double escaping
    w.back();
    EXPECT_TRUE(w.button(QWizard::CancelButton)->isEnabled());
    w.next();
    w.next();
    EXPECT_EQ(files.saves, 2);
    EXPECT_NE(out.read("Offer.HTM.htm").find("<li>Cheap &amp; good</li>"), std::string::npos);
}

TEST(TemplateWizard, BrowsingWarnsOfTheSizeFirst) {
    test::TempDir out;
    RecordedBoxes boxes;
    ScriptedFiles files;
    files.picked = "/somewhere/mine.jpg";
    TemplateWizardDialog w(dataFolder(), files.choice());
    w.show();
    // Straight to the pictures page, its buttons pressed.
    files.target = QString::fromStdString(out.file("x"));
    w.next();
    w.next();
    w.next();
    ASSERT_EQ(w.currentId(), TemplateWizardDialog::Images);
    for (QPushButton* b : w.findChildren<QPushButton*>())
        if (b->text() == "Browse..." && b->isVisible()) b->click();
    EXPECT_EQ(boxes.shown,
              (QStringList{"Please use an image having \"Width = 146\" ,\"Height = 144\", "
                           "otherwise image will get distorted.",
                           "Please use a logo having \"Width = 182\" ,\"Height = 79\" otherwise "
                           "logo will get distorted."}));
    EXPECT_EQ(w.field(WizardField::Image)->text(), "/somewhere/mine.jpg");
    EXPECT_EQ(w.field(WizardField::Logo)->text(), "/somewhere/mine.jpg");
}

TEST(TemplateWizard, EveryDesignsPicturesDecodeAndItsFinishedPageShows) {
    const QString data = dataFolder();
    // Every drawn picture decodes at the size its page gives it.
    for (int d = 1; d <= kTemplateDesignCount; ++d) {
        EXPECT_EQ(QImage(data + QString("/images/SM%1.jpg").arg(d)).size(), QSize(70, 75));
        EXPECT_EQ(QImage(data + QString("/Images/img%1%2.jpg").arg(d).arg(1)).size(),
                  QSize(146, 144));
        EXPECT_EQ(QImage(data + QString("/Images/img%1%2.jpg").arg(d).arg(2)).size(),
                  QSize(182, 79));
        for (std::string_view name : templateDesign(d - 1).fixedPictures)
            EXPECT_FALSE(
                QImage(data + "/images/" + QString::fromUtf8(name.data(), name.size())).isNull())
                << name;
    }
    EXPECT_EQ(QImage(data + "/images/trans.gif").pixelColor(0, 0).alpha(), 0);

    for (int design = 0; design < kTemplateDesignCount; ++design) {
        test::TempDir out;
        RecordedBoxes boxes;
        ScriptedFiles files;
        files.target = QString::fromStdString(out.file("page"));
        TemplateWizardDialog w(data, files.choice());
        w.show();
        if (design == kUnpickableDesign) {
            // No click picks it; its page is shown the way the finishing page shows one.
            TemplateWizardState s = defaultWizardState(design);
            s.targetPath = out.file("page.htm");
            fillDefaultPictures(s, data.toStdString());
            ASSERT_TRUE(generateTemplatePage(s, data.toStdString()).written);
            ui::PreviewView view;
            view.resize(660, 560);
            view.show();
            view.showFile(QString::fromStdString(s.targetPath));
            ASSERT_TRUE(showFinished(&view));
            test::screenshot(&view, QString("template-design-%1").arg(design + 1));
            continue;
        }
        w.clickThumbnails({design % 2 == 0 ? 40 : 120, 50 + 80 * (design / 2)});
        ASSERT_EQ(w.state().design, design);
        for (int i = 0; i < 4; ++i) w.next();
        ASSERT_EQ(w.currentId(), TemplateWizardDialog::Finishing)
            << boxes.shown.join(" | ").toStdString();
        EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join(" | ").toStdString();
        ASSERT_TRUE(showFinished(w.finishedView()));
        test::screenshot(&w, QString("template-design-%1").arg(design + 1));
    }
}

TEST(TemplateWizard, TheFinishedPageIsInsertedWithExactlyItsPictures) {
    test::FreshProfile profile;
    test::TempDir out;
    RecordedBoxes boxes;
    TemplateWizardState s = defaultWizardState(5);
    s.targetPath = out.file("five.htm");
    fillDefaultPictures(s, installedDataFolder());
    ASSERT_TRUE(generateTemplatePage(s, installedDataFolder()).written);

    DesktopCore core;
    ui::MainWindow window(core);
    window.insertWebpageFile(QString::fromStdString(s.targetPath));
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join(" | ").toStdString();
    EXPECT_TRUE(window.message().generatedPage);
    EXPECT_EQ(window.message().attachments.names(),
              (std::vector<std::string>{"img62.jpg", "trans.gif", "img63.jpg", "img61.jpg"}));
    EXPECT_FALSE(window.action(Command::InsertWebpage)->isEnabled());
}

}  // namespace
}  // namespace qm
