#include "subscriptions/ui/filter_dialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <mutex>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "groups/group_files.h"
#include "subscriptions/unsubscriber_filter.h"

namespace qm::ui {

namespace {

class Progress : public FilterObserver {
  public:
    explicit Progress(QLabel* line) : line_(line) {}
    void status(const std::string& text) override {
        QMetaObject::invokeMethod(
            line_, [l = line_, t = toScreen(text)] { l->setText(t); }, Qt::QueuedConnection);
    }
    void notice(const std::string& text) override {
        std::lock_guard g(m_);
        notices.append(toScreen(text));
    }
    QStringList notices;

  private:
    QLabel* line_;
    std::mutex m_;
};

}  // namespace

UnsubscriberFilterDialog::UnsubscriberFilterDialog(Paths paths, FilterMode mode, QWidget* parent)
    : QDialog(parent), paths_(std::move(paths)), mode_(mode) {
    const bool save = mode == FilterMode::Save;
    setWindowTitle(save ? "Save Unsubscribed Users" : "Filter Unsubscribers");
    auto* caption = new QLabel(save ? "Select groups from which to save unsubscribers"
                                    : "Select groups from where the users are to be unsubscribed");
    groups_ = new QListWidget;
    for (const std::string& g : listGroups(paths_)) {
        auto* item = new QListWidgetItem(toScreen(g), groups_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setData(Qt::UserRole, QByteArray::fromStdString(g));
    }
    selectAll_ = new QPushButton("Select All");
    file_ = new QLineEdit;
    browse_ = new QPushButton("...");
    progress_ = new QLabel;
    start_ = new QPushButton(save ? "&Save" : "&Unsubscribe");
    stop_ = new QPushButton("&Stop");
    stop_->setEnabled(false);
    auto* close = new QPushButton("&Close");

    auto* layout = new QVBoxLayout(this);
    if (!save) {
        auto* help = new QLabel(
            "The unsubscribe feature helps you to disable all the email addresses presently in "
            "the groups (if any) who have already unsubscribed.\nAt the time of sending the "
            "emails, the sender automatically looks for the status of the recipients, and won't "
            "send mail to the disabled.");
        help->setWordWrap(true);
        layout->addWidget(help);
    }
    layout->addWidget(caption);
    layout->addWidget(groups_, 1);
    auto* selRow = new QHBoxLayout;
    selRow->addWidget(selectAll_);
    selRow->addStretch();
    layout->addLayout(selRow);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(save ? "Save to" : "Unsubscribers file"));
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(browse_);
    layout->addLayout(fileRow);
    layout->addWidget(progress_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {start_, stop_, close}) buttons->addWidget(b);
    layout->addLayout(buttons);
    resize(460, 420);

    connect(selectAll_, &QPushButton::clicked, this, [this] {
        bool anyUnchecked = false;
        for (int i = 0; i < groups_->count(); ++i)
            anyUnchecked = anyUnchecked || groups_->item(i)->checkState() != Qt::Checked;
        for (int i = 0; i < groups_->count(); ++i)
            groups_->item(i)->setCheckState(anyUnchecked ? Qt::Checked : Qt::Unchecked);
        selectAll_->setText(anyUnchecked ? "Unselect All" : "Select All");
    });
    connect(browse_, &QPushButton::clicked, this, &UnsubscriberFilterDialog::browse);
    connect(start_, &QPushButton::clicked, this, [this] { start(); });
    connect(stop_, &QPushButton::clicked, this, [this] {
        progress_->setText("Stopping, it may take a few seconds.");
        running_ = false;
    });
    connect(close, &QPushButton::clicked, this, &UnsubscriberFilterDialog::reject);
}

UnsubscriberFilterDialog::~UnsubscriberFilterDialog() {
    running_ = false;
    if (worker_.joinable()) worker_.join();
}

void UnsubscriberFilterDialog::browse() {
    QString name;
    if (mode_ == FilterMode::Filter) {
        name = QFileDialog::getOpenFileName(this, "Select a file containing unsubscribers",
                                            QString(), "Text Files(*.txt)");
    } else {
        name = QFileDialog::getSaveFileName(this, "Please enter a filename to save", QString(),
                                            "Text Files(*.txt)");
        if (!name.isEmpty() && !name.endsWith(".txt")) name += ".txt";
    }
    if (!name.isEmpty()) file_->setText(name);
}

void UnsubscriberFilterDialog::setRunning(bool running) {
    for (QWidget* w : std::initializer_list<QWidget*>{groups_, file_, selectAll_, browse_, start_})
        w->setEnabled(!running);
    stop_->setEnabled(running);
}

bool UnsubscriberFilterDialog::start() {
    if (worker_.joinable()) return false;
    std::vector<std::string> chosen;
    for (int i = 0; i < groups_->count(); ++i)
        if (groups_->item(i)->checkState() == Qt::Checked)
            chosen.push_back(groups_->item(i)->data(Qt::UserRole).toByteArray().toStdString());
    const std::string path = fromScreen(file_->text().trimmed());
    std::vector<std::string> addresses;
    FilterStartCheck check =
        mode_ == FilterMode::Filter
            ? (progress_->setText("Parsing input file"), checkFilterStart(chosen, path, addresses))
            : checkSaveStart(chosen, path);
    if (!check.ok()) {
        progress_->clear();
        inform(this, check.message);
        return false;
    }
    if (mode_ == FilterMode::Save) progress_->setText("Creating list of unsubscribers");
    running_ = true;
    setRunning(true);
    worker_ = std::thread([this, chosen, path, addresses] {
        Progress progress(progress_);
        FilterResult r = mode_ == FilterMode::Filter
                             ? filterGroups(paths_, chosen, addresses, running_, progress)
                             : saveUnsubscribed(paths_, chosen, path, running_, progress);
        QString message = toScreen(r.message);
        QStringList notices = progress.notices;
        QMetaObject::invokeMethod(
            this, [this, message, notices] { finished(message, notices); }, Qt::QueuedConnection);
    });
    return true;
}

void UnsubscriberFilterDialog::finished(const QString& message, const QStringList& notices) {
    if (worker_.joinable()) worker_.join();
    running_ = false;
    setRunning(false);
    for (const QString& n : notices) inform(this, n);
    if (!message.isEmpty()) inform(this, message);
}

void UnsubscriberFilterDialog::waitForRun() {
    if (worker_.joinable()) worker_.join();
    QCoreApplication::processEvents();
}

void UnsubscriberFilterDialog::reject() {
    if (worker_.joinable()) return;  // Stop first
    QDialog::reject();
}

void openUnsubscriberFilter(const Paths& paths, FilterMode mode, QWidget* parent) {
    UnsubscriberFilterDialog dialog(paths, mode, parent);
    dialog.exec();
}

}  // namespace qm::ui
