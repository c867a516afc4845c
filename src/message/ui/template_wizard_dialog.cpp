#include "message/ui/template_wizard_dialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/file_util.h"
#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "message/ui/preview_view.h"

namespace qm::ui {

// The eight thumbnails at their fixed places and the chosen design shown large beside them.
class ThumbnailBoard : public QWidget {
  public:
    ThumbnailBoard(const QString& imagesFolder, std::function<void(int)> picked)
        : picked_(std::move(picked)) {
        for (int i = 0; i < kTemplateDesignCount; ++i) {
            thumbs_[i].load(imagesFolder + QString("/SM%1.jpg").arg(i + 1));
            large_[i].load(imagesFolder + QString("/preview%1.jpg").arg(i + 1));
        }
        setFixedSize(600, 390);
    }
    void setChosen(int design) {
        chosen_ = design;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        for (int i = 0; i < kTemplateDesignCount; ++i) {
            const QRect r(i % 2 == 0 ? 20 : 100, 30 + 80 * (i / 2), 70, 75);
            if (thumbs_[i].isNull())
                p.fillRect(r, Qt::lightGray);
            else
                p.drawPixmap(r, thumbs_[i]);
            p.setPen(i == chosen_ ? QPen(palette().highlight().color(), 3) : QPen(Qt::gray, 1));
            p.drawRect(r.adjusted(-2, -2, 1, 1));
        }
        const QRect big(220, 10, 370, 370);
        if (large_[chosen_].isNull())
            p.fillRect(big, Qt::lightGray);
        else
            p.drawPixmap(big, large_[chosen_]);
        p.setPen(QPen(Qt::gray, 1));
        p.drawRect(big.adjusted(0, 0, -1, -1));
    }
    void mousePressEvent(QMouseEvent* e) override {
        const int design =
            templateAtClick(e->position().toPoint().x(), e->position().toPoint().y());
        if (design >= 0) picked_(design);
    }

  private:
    std::function<void(int)> picked_;
    QPixmap thumbs_[kTemplateDesignCount];
    QPixmap large_[kTemplateDesignCount];
    int chosen_ = 0;
};

namespace {

QString crlfToScreen(const std::string& text) {
    return toScreen(text).replace("\r\n", "\n");
}

std::string crlfFromScreen(const QPlainTextEdit* edit) {
    return fromScreen(edit->toPlainText().replace("\n", "\r\n"));
}

QWizardPage* titledPage(const QString& title, const QString& subTitle) {
    auto* p = new QWizardPage;
    p->setTitle(title);
    p->setSubTitle(subTitle);
    return p;
}

QPlainTextEdit* paragraph(int lines) {
    auto* edit = new QPlainTextEdit;
    edit->setTabChangesFocus(true);
    edit->setFixedHeight(edit->fontMetrics().lineSpacing() * lines + 14);
    return edit;
}

}  // namespace

TemplateWizardDialog::TemplateWizardDialog(const QString& dataFolder, FileChoice files,
                                           QWidget* parent)
    : QWizard(parent),
      dataFolder_(dataFolder),
      files_(std::move(files)),
      state_(defaultWizardState(0)) {
    setWindowTitle("Template Wizard");
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage);
    setPage(SelectTemplate, makeSelectPage());
    setPage(Links, makeLinksPage());
    setPage(Texts, makeTextsPage());
    setPage(Images, makeImagesPage());
    setPage(Finishing, makeFinishingPage());
    setStartId(SelectTemplate);
    // The page is written before the finishing page shows; from there Finish is the way out.
    connect(this, &QWizard::currentIdChanged, this,
            [this](int id) { button(QWizard::CancelButton)->setEnabled(id != Finishing); });
    resize(680, 600);
}

QWizardPage* TemplateWizardDialog::makeSelectPage() {
    QWizardPage* p = titledPage("Select Template", "Click a design to choose it.");
    board_ = new ThumbnailBoard(dataFolder_ + "/images", [this](int design) {
        chooseDesign(state_, design);
        board_->setChosen(design);
    });
    auto* layout = new QVBoxLayout(p);
    layout->addWidget(board_, 0, Qt::AlignHCenter);
    return p;
}

QWizardPage* TemplateWizardDialog::makeLinksPage() {
    QWizardPage* p = titledPage("Links", "The links of the page and your web site's address.");
    auto* form = new QFormLayout(p);
    link1Text_ = new QLineEdit;
    link1Address_ = new QLineEdit;
    link2Text_ = new QLineEdit;
    link2Address_ = new QLineEdit;
    website_ = new QLineEdit;
    link1Label_[0] = new QLabel("Link1 text:");
    link1Label_[1] = new QLabel("Link1 address:");
    link2Label_[0] = new QLabel("Link2 text:");
    link2Label_[1] = new QLabel("Link2 address:");
    form->addRow(link1Label_[0], link1Text_);
    form->addRow(link1Label_[1], link1Address_);
    form->addRow(link2Label_[0], link2Text_);
    form->addRow(link2Label_[1], link2Address_);
    form->addRow("Website address:", website_);
    return p;
}

QWizardPage* TemplateWizardDialog::makeTextsPage() {
    QWizardPage* p = titledPage("Textual Description", "The words of the page.");
    auto* form = new QFormLayout(p);
    description_ = paragraph(4);
    firstDescription_ = paragraph(3);
    secondDescription_ = paragraph(3);
    heading_ = new QLineEdit;
    highlights_ = paragraph(6);
    highlights_->setToolTip("One highlight per line, at most 6");
    salutation_ = new QLineEdit;
    salutationLabel_ = new QLabel("Salutation:");
    descriptionLabel_ = new QLabel("Description:");
    firstLabel_ = new QLabel("First description:");
    secondLabel_ = new QLabel("Second description:");
    headingLabel_ = new QLabel("Heading:");
    form->addRow(salutationLabel_, salutation_);
    form->addRow(descriptionLabel_, description_);
    form->addRow(firstLabel_, firstDescription_);
    form->addRow(secondLabel_, secondDescription_);
    form->addRow(headingLabel_, heading_);
    form->addRow("Highlights:", highlights_);
    return p;
}

QWizardPage* TemplateWizardDialog::makeImagesPage() {
    QWizardPage* p = titledPage("Select Images",
                                "The pictures of the page; they are copied into an "
                                "\"Images\" folder beside it.");
    auto* layout = new QVBoxLayout(p);
    sample_ = new QLabel;
    sample_->setFixedSize(240, 240);
    sample_->setScaledContents(true);
    sample_->setFrameShape(QFrame::Box);
    layout->addWidget(sample_, 0, Qt::AlignHCenter);
    auto row = [this](const QString& label, QCheckBox*& use, QLineEdit*& path,
                      QPushButton*& browseButton, bool image) {
        auto* w = new QWidget;
        auto* h = new QHBoxLayout(w);
        h->setContentsMargins(0, 0, 0, 0);
        use = new QCheckBox(label);
        use->setChecked(true);
        use->setMinimumWidth(90);
        path = new QLineEdit;
        browseButton = new QPushButton("Browse...");
        h->addWidget(use);
        h->addWidget(path, 1);
        h->addWidget(browseButton);
        connect(use, &QCheckBox::toggled, path, &QWidget::setEnabled);
        connect(use, &QCheckBox::toggled, browseButton, &QWidget::setEnabled);
        connect(browseButton, &QPushButton::clicked, this, [this, image] { browse(image); });
        return w;
    };
    imageRow_ = row("Use image", useImage_, image_, browseImage_, true);
    logoRow_ = row("Use logo", useLogo_, logo_, browseLogo_, false);
    layout->addWidget(imageRow_);
    layout->addWidget(logoRow_);
    layout->addStretch();
    return p;
}

QWizardPage* TemplateWizardDialog::makeFinishingPage() {
    QWizardPage* p = titledPage("Finishing Page", "Your page as it will be sent.");
    auto* layout = new QVBoxLayout(p);
    view_ = new PreviewView;
    view_->setMinimumHeight(360);
    insert_ = new QCheckBox("Insert this page into the message");
    insert_->setChecked(true);
    layout->addWidget(view_, 1);
    layout->addWidget(insert_);
    return p;
}

void TemplateWizardDialog::initializePage(int id) {
    const TemplateDesign& d = templateDesign(state_.design);
    switch (id) {
        case Links:
            showLinks();
            for (QWidget* w :
                 {static_cast<QWidget*>(link1Text_), static_cast<QWidget*>(link1Address_),
                  static_cast<QWidget*>(link1Label_[0]), static_cast<QWidget*>(link1Label_[1])})
                w->setVisible(d.link1Shown);
            for (QWidget* w :
                 {static_cast<QWidget*>(link2Text_), static_cast<QWidget*>(link2Address_),
                  static_cast<QWidget*>(link2Label_[0]), static_cast<QWidget*>(link2Label_[1])})
                w->setVisible(d.link2Shown);
            break;
        case Texts:
            showTexts();
            description_->setVisible(!d.twoDescriptions);
            descriptionLabel_->setVisible(!d.twoDescriptions);
            for (QWidget* w :
                 {static_cast<QWidget*>(firstDescription_),
                  static_cast<QWidget*>(secondDescription_), static_cast<QWidget*>(firstLabel_),
                  static_cast<QWidget*>(secondLabel_)})
                w->setVisible(d.twoDescriptions);
            heading_->setVisible(d.headingShown);
            headingLabel_->setVisible(d.headingShown);
            salutationLabel_->setText(d.salutationIsOffer ? "Template Offer:" : "Salutation:");
            break;
        case Images:
            if (imagesShownFor_ != state_.design) {
                state_.imagePath.clear();
                state_.logoPath.clear();
                imagesShownFor_ = state_.design;
            } else {
                readImages();
            }
            fillDefaultPictures(state_, fromScreen(dataFolder_));
            image_->setText(toScreen(state_.imagePath));
            logo_->setText(toScreen(state_.logoPath));
            imageRow_->setVisible(d.imageField);
            logoRow_->setVisible(d.logoField);
            sample_->setPixmap(
                QPixmap(dataFolder_ + QString("/images/preview%1.jpg").arg(state_.design + 1)));
            break;
        case Finishing:
            view_->showFile(toScreen(state_.targetPath));
            break;
        default:
            break;
    }
}

void TemplateWizardDialog::showLinks() {
    link1Text_->setText(toScreen(state_.link1Text));
    link1Address_->setText(toScreen(state_.link1Address));
    link2Text_->setText(toScreen(state_.link2Text));
    link2Address_->setText(toScreen(state_.link2Address));
    website_->setText(toScreen(state_.website));
}

void TemplateWizardDialog::showTexts() {
    description_->setPlainText(crlfToScreen(state_.description));
    firstDescription_->setPlainText(crlfToScreen(state_.firstDescription));
    secondDescription_->setPlainText(crlfToScreen(state_.secondDescription));
    heading_->setText(toScreen(state_.heading));
    highlights_->setPlainText(crlfToScreen(state_.highlights));
    salutation_->setText(toScreen(state_.salutation));
}

void TemplateWizardDialog::readLinks() {
    state_.link1Text = fromScreen(link1Text_->text());
    state_.link1Address = fromScreen(link1Address_->text());
    state_.link2Text = fromScreen(link2Text_->text());
    state_.link2Address = fromScreen(link2Address_->text());
    state_.website = fromScreen(website_->text());
}

void TemplateWizardDialog::readTexts() {
    state_.description = crlfFromScreen(description_);
    state_.firstDescription = crlfFromScreen(firstDescription_);
    state_.secondDescription = crlfFromScreen(secondDescription_);
    state_.heading = fromScreen(heading_->text());
    state_.highlights = crlfFromScreen(highlights_);
    state_.salutation = fromScreen(salutation_->text());
}

void TemplateWizardDialog::readImages() {
    state_.imagePath = fromScreen(image_->text().trimmed());
    state_.logoPath = fromScreen(logo_->text().trimmed());
    state_.useImage = useImage_->isChecked();
    state_.useLogo = useLogo_->isChecked();
}

QLineEdit* TemplateWizardDialog::field(WizardField f) const {
    switch (f) {
        case WizardField::Link1Text:
            return link1Text_;
        case WizardField::Link1Address:
            return link1Address_;
        case WizardField::Link2Text:
            return link2Text_;
        case WizardField::Link2Address:
            return link2Address_;
        case WizardField::Website:
            return website_;
        case WizardField::Heading:
            return heading_;
        case WizardField::Salutation:
            return salutation_;
        case WizardField::Image:
            return image_;
        case WizardField::Logo:
            return logo_;
        default:
            return nullptr;
    }
}

QPlainTextEdit* TemplateWizardDialog::textField(WizardField f) const {
    switch (f) {
        case WizardField::Description:
            return description_;
        case WizardField::FirstDescription:
            return firstDescription_;
        case WizardField::SecondDescription:
            return secondDescription_;
        case WizardField::Highlights:
            return highlights_;
        default:
            return nullptr;
    }
}

bool TemplateWizardDialog::refuse(const WizardCheck& check) {
    inform(this, check.message);
    QWidget* w = field(check.field);
    if (!w) w = textField(check.field);
    if (w) w->setFocus();
    return false;
}

bool TemplateWizardDialog::chooseTarget() {
    if (!state_.targetPath.empty()) return true;
    const QString chosen = files_.save
                               ? files_.save(this, "Save Template As", "Html Files(*.htm)", nullptr)
                               : QString();
    if (chosen.isEmpty()) return false;
    state_.targetPath = templateTargetName(fromScreen(chosen));
    std::string error;
    const size_t slash = state_.targetPath.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : state_.targetPath.substr(0, slash);
    if (!makeFolders(folder + "/Images", &error)) {
        inform(this, error);
        state_.targetPath.clear();
        return false;
    }
    return true;
}

bool TemplateWizardDialog::validateCurrentPage() {
    switch (currentId()) {
        case SelectTemplate:
            return chooseTarget();
        case Links: {
            readLinks();
            WizardCheck check = checkLinks(state_);
            showLinks();
            return check.ok() || refuse(check);
        }
        case Texts: {
            readTexts();
            WizardCheck check = checkTexts(state_);
            showTexts();
            return check.ok() || refuse(check);
        }
        case Images: {
            readImages();
            if (WizardCheck check = checkImages(state_); !check.ok()) return refuse(check);
            TemplateGeneration g = generateTemplatePage(state_, fromScreen(dataFolder_));
            for (const std::string& message : g.messages) inform(this, message);
            if (!g.written) {
                inform(this, g.error);
                return false;
            }
            return true;
        }
        default:
            return true;
    }
}

void TemplateWizardDialog::reject() {
    // The page is written by now; the finishing page ends with Finish only.
    if (currentId() == Finishing) return;
    QWizard::reject();
}

void TemplateWizardDialog::browse(bool image) {
    inform(this,
           QString(image ? "Please use an image having \"Width = 146\" ,\"Height = 144\", "
                           "otherwise image will get distorted."
                         : "Please use a logo having \"Width = 182\" ,\"Height = 79\" otherwise "
                           "logo will get distorted."));
    if (!files_.open) return;
    const QString chosen =
        files_.open(this, image ? "Insert Image" : "Insert Logo", "Image Files(*.gif *.jpg)");
    if (!chosen.isEmpty()) (image ? image_ : logo_)->setText(chosen);
}

void TemplateWizardDialog::clickThumbnails(QPoint pos) {
    QMouseEvent press(QEvent::MouseButtonPress, pos, board_->mapToGlobal(pos), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(board_, &press);
}

QString TemplateWizardDialog::generatedPage() const {
    return toScreen(state_.targetPath);
}

bool TemplateWizardDialog::insertIntoMessage() const {
    return insert_->isChecked();
}

}  // namespace qm::ui
