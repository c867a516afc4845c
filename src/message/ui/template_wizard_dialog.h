// "Launch Template Wizard...": five pages over the core's TemplateWizardState
// (message/template_wizard.h). Select Template (thumbnails, then "Save Template As"), Links,
// Textual Description, Select Images (generates the page on Next), Finishing Page (the page shown
// as it will be sent, Cancel disabled, the insert check box).
//
// Entry points: TemplateWizardDialog, then exec(); on Accepted, generatedPage() and
// insertIntoMessage() tell the caller what to insert.
//
// Failure: every check's message in a message box (message_boxes.h) with the focus on its field;
// the wizard stays on the page. A page that cannot be written is reported and never shown.
//
// Threads: the GUI thread.
#pragma once

#include <QWizard>

#include "groups/ui/file_choice.h"
#include "message/template_wizard.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qm::ui {

class PreviewView;
class ThumbnailBoard;

class TemplateWizardDialog : public QWizard {
    Q_OBJECT
  public:
    enum Page { SelectTemplate, Links, Texts, Images, Finishing };

    // `dataFolder` holds the designs' pictures ("images" and "Images").
    TemplateWizardDialog(const QString& dataFolder, FileChoice files = FileChoice::dialogs(),
                         QWidget* parent = nullptr);

    const TemplateWizardState& state() const { return state_; }
    QString generatedPage() const;
    bool insertIntoMessage() const;
    // Ignored on the finishing page, where the page is already written.
    void reject() override;

    // For the tests: a click on the thumbnail board at `pos`, and the fields.
    void clickThumbnails(QPoint pos);
    QLineEdit* field(WizardField f) const;
    QPlainTextEdit* textField(WizardField f) const;
    QCheckBox* useImageBox() const { return useImage_; }
    QCheckBox* useLogoBox() const { return useLogo_; }
    QCheckBox* insertBox() const { return insert_; }
    PreviewView* finishedView() const { return view_; }

  protected:
    void initializePage(int id) override;
    bool validateCurrentPage() override;

  private:
    QWizardPage* makeSelectPage();
    QWizardPage* makeLinksPage();
    QWizardPage* makeTextsPage();
    QWizardPage* makeImagesPage();
    QWizardPage* makeFinishingPage();
    bool chooseTarget();
    void readLinks();
    void readTexts();
    void readImages();
    void showLinks();
    void showTexts();
    bool refuse(const WizardCheck& check);
    void browse(bool image);

    QString dataFolder_;
    FileChoice files_;
    TemplateWizardState state_;
    int imagesShownFor_ = -1;

    ThumbnailBoard* board_ = nullptr;
    QLineEdit *link1Text_ = nullptr, *link1Address_ = nullptr, *link2Text_ = nullptr,
              *link2Address_ = nullptr, *website_ = nullptr;
    QLabel *link1Label_[2] = {}, *link2Label_[2] = {};
    QPlainTextEdit *description_ = nullptr, *firstDescription_ = nullptr,
                   *secondDescription_ = nullptr, *highlights_ = nullptr;
    QLineEdit *heading_ = nullptr, *salutation_ = nullptr;
    QLabel *descriptionLabel_ = nullptr, *firstLabel_ = nullptr, *secondLabel_ = nullptr,
           *headingLabel_ = nullptr, *salutationLabel_ = nullptr;
    QLabel* sample_ = nullptr;
    QLineEdit *image_ = nullptr, *logo_ = nullptr;
    QCheckBox *useImage_ = nullptr, *useLogo_ = nullptr;
    QPushButton *browseImage_ = nullptr, *browseLogo_ = nullptr;
    QWidget *imageRow_ = nullptr, *logoRow_ = nullptr;
    PreviewView* view_ = nullptr;
    QCheckBox* insert_ = nullptr;
};

}  // namespace qm::ui
