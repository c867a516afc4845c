#include "message/ui/eml_import_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"

namespace qm::ui {

namespace {

constexpr int kPreviewWidth = 183;
constexpr int kPreviewHeight = 70;
constexpr int kMaxBodyChars = 262143;

QPushButton* button(const char* text, const char* tip) {
    auto* b = new QPushButton(text);
    if (*tip) b->setToolTip(tip);
    return b;
}

}  // namespace

QColor EmlImportDialog::background() {
    return QColor(188, 198, 213);
}

EmlImportDialog::EmlImportDialog(const QString& outputFolder, QWidget* parent)
    : QDialog(parent), outputFolder_(outputFolder) {
    setWindowTitle("EML file parser");
    source_ = new QLineEdit;
    source_->setReadOnly(true);
    source_->setToolTip("Source eml file");
    body_ = new QPlainTextEdit;
    body_->setToolTip("Body of message");
    connect(body_, &QPlainTextEdit::textChanged, this, [this] {
        // The field's limit, kept as typing and pasting go.
        if (body_->document()->characterCount() - 1 > kMaxBodyChars) {
            QString text = body_->toPlainText().left(kMaxBodyChars);
            const QSignalBlocker block(body_);
            body_->setPlainText(text);
        }
    });
    files_ = new QListWidget;
    files_->setToolTip("Attached and embedded file");
    connect(files_, &QListWidget::currentRowChanged, this, [this] { showPreview(); });
    preview_ = new QLabel;
    preview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setAutoFillBackground(true);
    QPalette pal = preview_->palette();
    pal.setColor(QPalette::Window, background());
    preview_->setPalette(pal);

    auto* browse = button("&Browse", "");
    auto* get = button("&Get Content", "Parse source eml to get its content");
    auto* addButton = button("&Add", "Add contents to message");
    auto* cancel = button("&Cancel", "Discard contents");
    connect(browse, &QPushButton::clicked, this, &EmlImportDialog::browse);
    connect(get, &QPushButton::clicked, this, &EmlImportDialog::getContent);
    connect(addButton, &QPushButton::clicked, this, &EmlImportDialog::add);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Source EML"), 0, 0, 1, 2);
    auto* sourceRow = new QHBoxLayout;
    sourceRow->addWidget(source_, 1);
    sourceRow->addWidget(browse);
    sourceRow->addWidget(get);
    grid->addLayout(sourceRow, 1, 0, 1, 2);
    grid->addWidget(new QLabel("Body"), 2, 0, 1, 2);
    grid->addWidget(body_, 3, 0, 1, 2);
    grid->addWidget(new QLabel("Attached\\Embedded  Files"), 4, 0);
    auto* previewBox = new QGroupBox("Preview");
    auto* previewLayout = new QVBoxLayout(previewBox);
    previewLayout->addWidget(preview_);
    grid->addWidget(files_, 5, 0);
    grid->addWidget(previewBox, 5, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(addButton);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 6, 0, 1, 2);
    grid->setRowStretch(3, 1);
    resize(560, 480);
}

void EmlImportDialog::browse() {
    const QString path = QFileDialog::getOpenFileName(this, "Select a Outlook Express Email file",
                                                      {}, "Outlook Express Email Files(*.eml)");
    if (!path.isEmpty()) chooseSource(path);
}

void EmlImportDialog::chooseSource(const QString& path) {
    // A file that cannot be looked at counts as 0 bytes; Get Content then says what is wrong.
    QFileInfo info(path);
    const qint64 size = info.exists() ? info.size() : 0;
    if (static_cast<std::uint64_t>(size) > kMaxEmlSourceBytes) {
        inform(this, kMsgEmlTooLarge);
        return;
    }
    source_->setText(path);
}

void EmlImportDialog::getContent() {
    if (source_->text().isEmpty()) return;
    EmlOptions options;
    options.referencePrefix = "EmlOutput/";
    EmlExtract e = extractEml(fromScreen(source_->text()), fromScreen(outputFolder_), options);
    const EmlImportResult shown = emlDialogContent(e);
    files_->clear();
    body_->setPlainText(toScreen(shown.body));
    bodyIsHtml_ = shown.bodyIsHtml;
    for (const std::string& name : shown.names) files_->addItem(toScreen(name));
    showPreview();
    if (!e.ok) inform(this, e.error);
}

void EmlImportDialog::showPreview() {
    QListWidgetItem* item = files_->currentItem();
    QImage image;
    if (item) image.load(outputFolder_ + "/" + item->text());
    if (image.isNull()) {
        QPixmap blank(kPreviewWidth, kPreviewHeight);
        blank.fill(background());
        preview_->setPixmap(blank);
        return;
    }
    preview_->setPixmap(QPixmap::fromImage(image.scaled(
        kPreviewWidth, kPreviewHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void EmlImportDialog::add() {
    const QString body = body_->toPlainText();
    if (body.isEmpty() && files_->count() == 0) {
        inform(this, kMsgNothingToAdd);
        return;
    }
    result_.body = fromScreen(body);
    result_.bodyIsHtml = bodyIsHtml_;
    result_.names.clear();
    for (int i = 0; i < files_->count(); ++i)
        result_.names.push_back(fromScreen(files_->item(i)->text()));
    accept();
}

}  // namespace qm::ui
