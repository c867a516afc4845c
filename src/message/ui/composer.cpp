#include "message/ui/composer.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "message/campaign_message.h"
#include "message/ui/html_editor.h"
#include "message/ui/preview_view.h"
#include "message/ui/variable_dialog.h"

namespace qm::ui {

namespace {

// execCommand's font sizes 1..7 stand for these pixel sizes.
int htmlFontSize(int points) {
    static const int kSteps[] = {8, 10, 12, 14, 18, 24};
    int size = 1;
    for (int step : kSteps)
        if (points > step) ++size;
    return size;
}

bool writeBytes(const QString& path, const std::string& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
           static_cast<qint64>(bytes.size());
}

}  // namespace

Composer::Composer(const QString& programFolder, PreviewView* preview, QWidget* parent)
    : QWidget(parent), programFolder_(programFolder), preview_(preview) {
    htmlButton_ = new QRadioButton("Html");
    htmlButton_->setToolTip("Send HTML message");
    plainButton_ = new QRadioButton("Plain Text");
    plainButton_->setToolTip("Send plain text message");
    auto* format = new QButtonGroup(this);
    format->addButton(htmlButton_);
    format->addButton(plainButton_);
    variables_ = new QCheckBox("Dynamic Variables - e.g. [**USER**]");
    variables_->setToolTip("Use dynamic variables, Press Ctrl+M to add a dyanamic variable");
    auto* insert = new QPushButton("Insert Variable...");
    insert->setToolTip("Insert a dynamic variable at the caret (Ctrl+M)");
    insert->setEnabled(false);
    connect(variables_, &QCheckBox::toggled, insert, &QWidget::setEnabled);
    connect(insert, &QPushButton::clicked, this, &Composer::insertVariable);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Message As"));
    top->addWidget(htmlButton_);
    top->addWidget(plainButton_);
    top->addSpacing(16);
    top->addWidget(variables_);
    top->addWidget(insert);
    top->addStretch();

    page_ = new QLineEdit;
    page_->setReadOnly(true);
    page_->setToolTip("Path of HTML file, if inserted");
    pageRow_ = new QWidget;
    auto* pageLayout = new QHBoxLayout(pageRow_);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(new QLabel("Web Page:"));
    pageLayout->addWidget(page_, 1);
    pageRow_->hide();

    tools_ = new QToolBar;
    tools_->setIconSize(QSize(16, 16));
    addTool("Font...", "Font", [this] { chooseFont(); });
    addTool("B", "Bold", [this] { editor_->exec("bold"); });
    addTool("I", "Italic", [this] { editor_->exec("italic"); });
    addTool("U", "Underline", [this] { editor_->exec("underline"); });
    tools_->addSeparator();
    addTool("1.", "Numbering", [this] { editor_->exec("insertOrderedList"); });
    addTool("\u2022", "Bullets", [this] { editor_->exec("insertUnorderedList"); });
    addTool("\u00ab", "Decrease Indent", [this] { editor_->exec("outdent"); });
    addTool("\u00bb", "Increase Indent", [this] { editor_->exec("indent"); });
    tools_->addSeparator();
    addTool("Left", "Align Left", [this] { editor_->exec("justifyLeft"); });
    addTool("Center", "Center", [this] { editor_->exec("justifyCenter"); });
    addTool("Right", "Align Right", [this] { editor_->exec("justifyRight"); });
    tools_->addSeparator();
    addTool("Link...", "Hyperlink", [this] { insertLink(); });
    addTool("Image...", "Image", [this] { insertImage(); });
    {
        // Bold, italic and underline show what they do.
        auto buttons = tools_->findChildren<QToolButton*>();
        for (auto* b : buttons) {
            QFont f = b->font();
            if (b->text() == "B") f.setBold(true);
            if (b->text() == "I") f.setItalic(true);
            if (b->text() == "U") f.setUnderline(true);
            b->setFont(f);
        }
    }

    editor_ = new HtmlEditor;
    plain_ = new QPlainTextEdit;
    plain_->setToolTip("Enter your message here");
    stack_ = new QStackedWidget;
    stack_->addWidget(editor_);
    stack_->addWidget(plain_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(pageRow_);
    layout->addWidget(tools_);
    layout->addWidget(stack_, 1);

    connect(htmlButton_, &QRadioButton::toggled, this, [this](bool on) {
        stack_->setCurrentIndex(on ? 0 : 1);
        tools_->setEnabled(on);
    });
    setTabOrder(htmlButton_, plainButton_);
    setTabOrder(plainButton_, variables_);
    setTabOrder(variables_, insert);
    setTabOrder(insert, stack_);
    newMessage();
}

void Composer::addTool(const QString& text, const QString& tip, std::function<void()> run) {
    QAction* action = tools_->addAction(text);
    action->setToolTip(tip);
    connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
}

bool Composer::isHtml() const {
    return htmlButton_->isChecked();
}

void Composer::setHtmlFormat(bool html) {
    (html ? htmlButton_ : plainButton_)->setChecked(true);
}

bool Composer::useVariables() const {
    return variables_->isChecked();
}

void Composer::writeStartup() {
    writeBytes(programFolder_ + "/Startup.htm", std::string(kBlankDocument));
}

void Composer::newMessage() {
    writeStartup();
    editor_->loadFile(programFolder_ + "/Startup.htm");
    plain_->clear();
    generatedPage_ = false;
    page_->clear();
    pageRow_->hide();
    setHtmlFormat(true);
    emit pageChanged();
}

void Composer::insertVariable() {
    if (!useVariables()) return;
    // A generated page is sent as its file, so a token typed into the editor would be lost.
    if (isHtml() && generatedPage_) return;
    const QString token = VariableDialog::choose(this);
    if (!isHtml()) {
        if (token.isEmpty()) return;
        QTextCursor cursor = plain_->textCursor();
        cursor.insertText(token);
        plain_->setTextCursor(cursor);
        plain_->ensureCursorVisible();
        plain_->setFocus();
        return;
    }
    if (token.isEmpty()) {
        editor_->setFocus();
        return;
    }
    editor_->insertText(token);
}

void Composer::setDocumentText(const QString& html) {
    generatedPage_ = false;
    editor_->setDocument(html,
                         pageInserted() ? QFileInfo(pagePath()).absolutePath() : programFolder_);
    setHtmlFormat(true);
    connect(
        editor_, &HtmlEditor::loaded, this, [this] { refreshPreview(); }, Qt::SingleShotConnection);
}

void Composer::insertPage(const QString& path, bool generated) {
    generatedPage_ = generated;
    editor_->loadFile(path);
    setHtmlFormat(true);
    page_->setText(path);
    pageRow_->show();
    connect(
        editor_, &HtmlEditor::loaded, this, [this] { refreshPreview(); }, Qt::SingleShotConnection);
    emit pageChanged();
}

void Composer::removePage() {
    const QString oldPreview = previewFile();
    writeStartup();
    editor_->loadFile(programFolder_ + "/Startup.htm");
    if (pageInserted()) QFile::remove(oldPreview);
    generatedPage_ = false;
    page_->clear();
    pageRow_->hide();
    connect(
        editor_, &HtmlEditor::loaded, this, [this] { refreshPreview(); }, Qt::SingleShotConnection);
    emit pageChanged();
}

void Composer::forgetPage() {
    if (!pageInserted()) return;
    QFile::remove(previewFile());
    generatedPage_ = false;
    page_->clear();
    pageRow_->hide();
    emit pageChanged();
}

void Composer::replacePage(const QString& html, const QString& baseFolder) {
    forgetPage();
    generatedPage_ = false;
    editor_->setDocument(html, baseFolder);
    setHtmlFormat(true);
    connect(
        editor_, &HtmlEditor::loaded, this, [this] { refreshPreview(); }, Qt::SingleShotConnection);
}

void Composer::replacePageWithText(const QString& text) {
    forgetPage();
    setHtmlFormat(false);
    plain_->setPlainText(text);
}

QString Composer::pagePath() const {
    return page_->text();
}

void Composer::html(std::function<void(const QString&)> done) const {
    editor_->html(std::move(done));
}

QString Composer::previewFile() const {
    CampaignMessage page;
    page.pageInserted = pageInserted();
    page.webPagePath = fromScreen(pagePath());
    return toScreen(previewFilePath(page, fromScreen(programFolder_)));
}

void Composer::refreshPreview() {
    if (!isHtml()) {
        preview_->showFile({});
        return;
    }
    html([this](const QString& text) {
        const QString target = previewFile();
        writeBytes(target, previewText(fromScreen(text)));
        preview_->showFile(target);
    });
}

void Composer::chooseFont() {
    bool ok = false;
    QFont font = QFontDialog::getFont(&ok, QFont("Arial", 10), this, "Font");
    if (!ok) return;
    editor_->exec("fontName", font.family());
    editor_->exec("fontSize", QString::number(htmlFontSize(font.pointSize())));
    if (font.bold()) editor_->exec("bold");
    if (font.italic()) editor_->exec("italic");
}

void Composer::insertLink() {
    bool ok = false;
    QString url =
        QInputDialog::getText(this, "Hyperlink", "URL:", QLineEdit::Normal, "http://", &ok);
    if (ok && !url.trimmed().isEmpty()) editor_->exec("createLink", url.trimmed());
}

void Composer::insertImage() {
    QString file = QFileDialog::getOpenFileName(this, "Image", {},
                                                "Image Files (*.bmp *.jpg *.jpeg *.gif *.png)");
    if (!file.isEmpty()) editor_->exec("insertImage", QUrl::fromLocalFile(file).toString());
}

}  // namespace qm::ui
