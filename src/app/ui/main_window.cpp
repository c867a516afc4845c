#include "app/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/ui/reminder_dialog.h"
#include "common/ui/message_boxes.h"
#include "common/ui/not_available.h"
#include "common/ui/text.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/delivery_settings.h"
#include "delivery/run_request.h"
#include "delivery/send_log_buffer.h"
#include "delivery/test_campaign.h"
#include "delivery/ui/delivery_report_dialog.h"
#include "delivery/ui/run_forwarder.h"
#include "delivery/ui/send_status_tab.h"
#include "delivery/ui/smtp_settings_tab.h"
#include "delivery/ui/stopping_threads_dialog.h"
#include "delivery/ui/test_campaign_dialog.h"
#include "groups/address.h"
#include "groups/ui/select_groups_dialog.h"
#include "message/html_tools.h"
#include "message/ui/composer.h"
#include "message/ui/html_page_dialog.h"
#include "message/ui/preview_view.h"
#include "message/ui/unsubscribe_dialog.h"

namespace qm::ui {

namespace {

constexpr int kRecipientsLimit = 2752512;

QLineEdit* limitedField(int limit, const QString& tip) {
    auto* field = new QLineEdit;
    field->setMaxLength(limit);
    field->setToolTip(tip);
    return field;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), store_(SettingsStore::open()), paths_(Paths::current(store_)) {
    setWindowTitle("Quillmark");
    paths_.ensureFolders();
    log_ = std::make_unique<SendLogBuffer>();
    forwarder_ = new RunForwarder(this, this);
    run_ = std::make_unique<CampaignRun>(paths_, *log_, *forwarder_);

    tabs_ = new QTabWidget;
    preview_ = new PreviewView;
    composer_ = new Composer(toScreen(paths_.programFolder()), preview_);
    settingsTab_ = new SmtpSettingsTab;
    statusTab_ = new SendStatusTab;
    tabs_->addTab(composer_, "Message");
    tabs_->addTab(preview_, "Html Preview");
    tabs_->addTab(settingsTab_, "SMTP Settings");
    tabs_->addTab(statusTab_, "Send Status");
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == PreviewTab) composer_->refreshPreview();
    });
    connect(composer_, &Composer::pageChanged, this, [this] {
        state_.pageInserted = composer_->pageInserted();
        updateCommands();
    });
    connect(statusTab_, &SendStatusTab::viewLogRequested, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(toScreen(paths_.sendLog()))); });

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(buildForm());
    layout->addWidget(tabs_, 1);
    setCentralWidget(central);
    buildMenus();

    settingsTab_->load(loadDeliverySettings(store_));

    setTabOrder(senderName_, senderAddress_);
    setTabOrder(senderAddress_, subject_);
    setTabOrder(subject_, recipients_);
    setTabOrder(recipients_, selectGroup_);
    setTabOrder(selectGroup_, attachments_);
    setTabOrder(attachments_, attach_);
    setTabOrder(attach_, detach_);
    setTabOrder(detach_, tabs_);
    auto* f6 = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(f6, &QShortcut::activated, this, &MainWindow::nextPane);

    updateCommands();
    resize(800, 580);
    senderName_->setFocus();
}

MainWindow::~MainWindow() {
    // A sending thread may be waiting for this window to take a relay failure; it must not hold up
    // the wait for the run's threads.
    forwarder_->detach();
    run_.reset();
    // The reports describe the last run of this program run only.
    deleteReports(paths_);
    // The preview copy beside an inserted page is a working file only.
    if (composer_->pageInserted()) QFile::remove(composer_->previewFile());
    // The composer writes into the preview, so it goes first. The tab widget would delete its
    // pages in stacking order (the current one last), and a preview deleted first shuts its
    // profile down while the editor still has source requests pending: the engine answers them
    // there, into a composer that then loads a file into the half-destroyed preview. Removing the
    // composer's tab moves the current tab, which must not ask it for a preview any more.
    disconnect(tabs_, nullptr, this, nullptr);
    delete composer_;
    composer_ = nullptr;
}

QWidget* MainWindow::buildForm() {
    auto* form = new QWidget;
    auto* grid = new QGridLayout(form);
    grid->setContentsMargins(0, 0, 0, 0);

    senderAddress_ =
        limitedField(100, "Enter sender's email address, for example john.smith@example.com");
    senderName_ = limitedField(200, "Enter sender's name");
    subject_ = limitedField(200, "Enter subject of mail");
    grid->addWidget(new QLabel("Sender Name"), 0, 0);
    grid->addWidget(senderName_, 0, 1);
    grid->addWidget(new QLabel("Sender Email"), 1, 0);
    grid->addWidget(senderAddress_, 1, 1);
    grid->addWidget(new QLabel("Subject"), 2, 0);
    grid->addWidget(subject_, 2, 1);

    recipients_ = new QPlainTextEdit;
    recipients_->setToolTip(
        "Add new recipients to list. Valid separators are space, semi-colon and comma.");
    recipients_->setMaximumHeight(52);
    connect(recipients_, &QPlainTextEdit::textChanged, this, [this] {
        // characterCount() counts the closing paragraph mark as one.
        if (recipients_->document()->characterCount() - 1 <= kRecipientsLimit) return;
        QTextCursor cursor(recipients_->document());
        cursor.setPosition(kRecipientsLimit);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    });
    auto* help = new QLabel("(?)");
    help->setToolTip("You can add Recipient's Email IDs separated with semicolon or comma.");
    groups_ = new QLineEdit;
    groups_->setReadOnly(true);
    groups_->setToolTip("Groups selected to send mail");
    groups_->setPlaceholderText("No group selected");
    selectGroup_ = new QPushButton("Select Group");
    selectGroup_->setToolTip("Choose the groups that receive this mail");
    connect(selectGroup_, &QPushButton::clicked, this, &MainWindow::selectGroups);
    auto* recipientLabel = new QHBoxLayout;
    recipientLabel->addWidget(new QLabel("Recipients"));
    recipientLabel->addWidget(help);
    recipientLabel->addStretch();
    grid->addLayout(recipientLabel, 3, 0, Qt::AlignTop);
    grid->addWidget(recipients_, 3, 1);
    auto* groupRow = new QHBoxLayout;
    groupRow->addWidget(groups_, 1);
    groupRow->addWidget(selectGroup_);
    grid->addWidget(new QLabel("Groups"), 4, 0);
    grid->addLayout(groupRow, 4, 1);

    attachments_ = new QListWidget;
    attachments_->setToolTip("Select attachments upto a maximum total size of 2MB");
    attachments_->setMaximumHeight(96);
    attach_ = new QPushButton("Attach");
    detach_ = new QPushButton("Delete");
    auto* attachButtons = new QHBoxLayout;
    attachButtons->addWidget(attach_);
    attachButtons->addWidget(detach_);
    attachButtons->addStretch();
    auto* attachBox = new QVBoxLayout;
    attachBox->addWidget(new QLabel("Attachment"));
    attachBox->addWidget(attachments_, 1);
    attachBox->addLayout(attachButtons);
    grid->addLayout(attachBox, 0, 2, 5, 1);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);
    return form;
}

QAction* MainWindow::addCommand(QMenu* menu, Command command, const QString& text,
                                const QKeySequence& shortcut, const QString& tip, bool available) {
    QAction* act = menu->addAction(text);
    if (!shortcut.isEmpty()) act->setShortcut(shortcut);
    if (!tip.isEmpty()) act->setToolTip(tip);
    available_[command] = available;
    if (!available) markNotAvailable(act);
    actions_[command] = act;
    return act;
}

void MainWindow::buildMenus() {
    auto* bar = menuBar();

    QMenu* file = bar->addMenu("&File");
    QAction* newEmail = addCommand(file, Command::NewEmail, "&New Email", QKeySequence("Ctrl+N"),
                                   "New Email", true);
    connect(newEmail, &QAction::triggered, this, &MainWindow::newEmail);
    connect(addCommand(file, Command::SendEmail, "&Send Email", QKeySequence("Ctrl+R"),
                       "Send Emails", true),
            &QAction::triggered, this, &MainWindow::sendEmail);
    connect(addCommand(file, Command::StopSending, "Stop Sending", QKeySequence("Ctrl+F"),
                       "Stop Sending Emails", true),
            &QAction::triggered, this, &MainWindow::stopSending);
    file->addSeparator();
    connect(file->addAction("E&xit"), &QAction::triggered, this, &QWidget::close);

    QMenu* tools = bar->addMenu("&Tools");
    QAction* attach = addCommand(tools, Command::AddAttachment, "Add Attachment...",
                                 QKeySequence("Ctrl+T"), "Add Attachments ", true);
    connect(attach, &QAction::triggered, this, &MainWindow::chooseAttachments);
    QMenu* remove = tools->addMenu("Remove Attachments");
    QAction* removeSelected =
        addCommand(remove, Command::RemoveAttachments, "Remove Selected", {}, {}, true);
    connect(removeSelected, &QAction::triggered, this, &MainWindow::removeSelectedAttachment);
    // "Remove All" shares the rule of "Remove Selected" but is its own menu entry.
    QAction* removeAll = remove->addAction("Remove All");
    removeAll->setShortcut(QKeySequence("Ctrl+L"));
    removeAll->setToolTip("Remove all attachments");
    connect(removeAll, &QAction::triggered, this, &MainWindow::removeAllAttachments);
    tools->addSeparator();
    addCommand(tools, Command::ImportAddresses, "&Import Email Address...", QKeySequence("Ctrl+I"),
               "Import Email Addresses", false);
    addCommand(tools, Command::StopImporting, "Stop Importing", {},
               "Stop Importing Email Addresses", false);
    addCommand(tools, Command::SpamCheck, "Spam Check", {}, "Check Mail for Spam", false);
    addCommand(tools, Command::GroupManagement, "Group Management", QKeySequence("Ctrl+G"),
               "Launch Group Manager", false);
    connect(addCommand(tools, Command::TestCampaign, "Test Campaign", {}, {}, true),
            &QAction::triggered, this, &MainWindow::testCampaign);
    connect(addCommand(tools, Command::DeliveryReport, "Mail Delivery Report...",
                       QKeySequence("Ctrl+D"), "Mail Delivery Report", true),
            &QAction::triggered, this, &MainWindow::showDeliveryReport);
    addCommand(tools, Command::SchedulerStatus, "Scheduler Sent Status", {}, {}, false);

    QMenu* html = bar->addMenu("Ht&ml");
    QAction* insertPage = addCommand(html, Command::InsertWebpage, "Insert Webpage...", {},
                                     "Insert Webpage(*.htm;*.html;*.shtml)", true);
    connect(insertPage, &QAction::triggered, this, &MainWindow::insertWebpage);
    QAction* createPage = addCommand(html, Command::CreateHtmlPage, "Create HTML Page...",
                                     QKeySequence("Ctrl+H"), {}, true);
    connect(createPage, &QAction::triggered, this, &MainWindow::createHtmlPage);
    QAction* removePage = addCommand(html, Command::RemoveWebPage, "Remove Web Page", {},
                                     "Remove Inserted Web Page", true);
    connect(removePage, &QAction::triggered, this, &MainWindow::removeWebPage);
    addCommand(html, Command::TemplateWizard, "Launch Template Wizard...", {}, {}, false);

    QMenu* subscribers = bar->addMenu("Su&bscribers");
    QAction* unsubscribeLink = addCommand(subscribers, Command::AddUnsubscribeLink,
                                          "Add Unsubscribe Link...", {}, {}, true);
    connect(unsubscribeLink, &QAction::triggered, this, &MainWindow::addUnsubscribeLink);
    addCommand(subscribers, Command::GetUnsubscribers, "Get Unsubscribers List...",
               QKeySequence("Ctrl+U"), "Get Unsubscribers List", false);
    addCommand(subscribers, Command::FilterUnsubscribers, "Filter Unsubscribers...", {}, {}, false);
    addCommand(subscribers, Command::SaveUnsubscribed, "Save Unsubscribed Users...", {}, {}, false);
    autoUnsubscribe_ =
        addCommand(subscribers, Command::AutoUnsubscribe, "Auto Unsubscribe", {}, {}, true);
    autoUnsubscribe_->setCheckable(true);
    autoUnsubscribe_->setChecked(store_.readFlag(keys::kAutoUnsubscribe));
    connect(autoUnsubscribe_, &QAction::triggered, this, &MainWindow::toggleAutoUnsubscribe);
    addCommand(subscribers, Command::GetSubscribers, "Get Subscribers List...", {}, {}, false);

    QMenu* helpMenu = bar->addMenu("&Help");
    QAction* contents = helpMenu->addAction("Contents");
    contents->setShortcut(QKeySequence(Qt::Key_F1));
    const QString helpFile = toScreen(paths_.programFolder()) + "/HelpFileQuillmark.chm";
    if (QFileInfo::exists(helpFile)) {
        connect(contents, &QAction::triggered, this,
                [helpFile] { QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile)); });
    } else {
        markNotAvailable(contents);
    }
    QAction* tour = helpMenu->addAction("Quick Tour");
    tour->setToolTip("See Online Tutorial");
    connect(tour, &QAction::triggered, this, [] { QDesktopServices::openUrl(QUrl(kTutorialUrl)); });
    showReminder_ = helpMenu->addAction("Show Reminder For Quick Tour");
    showReminder_->setCheckable(true);
    showReminder_->setChecked(store_.readFlag(keys::kShowReminder));
    connect(showReminder_, &QAction::triggered, this,
            [this](bool on) { store_.writeFlag(keys::kShowReminder, on); });
    connect(helpMenu->addAction("Home Page"), &QAction::triggered, this,
            [] { QDesktopServices::openUrl(QUrl(kHomePageUrl)); });
    helpMenu->addSeparator();
    connect(helpMenu->addAction("&About Quillmark..."), &QAction::triggered, this, [this] {
        QMessageBox::about(this, "About Quillmark", "Quillmark\nPersonalised e-mail campaigns.");
    });

    // Ctrl+M works wherever the focus is in the window.
    insertVariable_ = new QAction("Insert Dynamic Variable", this);
    insertVariable_->setShortcut(QKeySequence("Ctrl+M"));
    insertVariable_->setShortcutContext(Qt::WindowShortcut);
    addAction(insertVariable_);
    actions_[Command::InsertVariable] = insertVariable_;
    available_[Command::InsertVariable] = true;
    connect(insertVariable_, &QAction::triggered, composer_, &Composer::insertVariable);

    for (QMenu* menu : {file, tools, remove, html, subscribers, helpMenu}) {
        menu->setToolTipsVisible(true);
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::updateCommands);
    }

    // Form buttons repeat the attachment commands.
    connect(attach_, &QPushButton::clicked, attach, &QAction::trigger);
    connect(detach_, &QPushButton::clicked, removeSelected, &QAction::trigger);
    // The list's own menu: "Add Attachment", "Remove Attachment", "Remove All".
    attachments_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(attachments_, &QWidget::customContextMenuRequested, this, [=, this](const QPoint& at) {
        QMenu menu;
        QAction* add = menu.addAction("Add Attachment");
        QAction* drop = menu.addAction("Remove Attachment");
        QAction* dropAll = menu.addAction("Remove All");
        add->setEnabled(attach->isEnabled());
        drop->setEnabled(removeSelected->isEnabled());
        dropAll->setEnabled(removeAll->isEnabled());
        QAction* chosen = menu.exec(attachments_->viewport()->mapToGlobal(at));
        if (chosen == add) attach->trigger();
        if (chosen == drop) removeSelected->trigger();
        if (chosen == dropAll) removeAll->trigger();
    });

    auto* toolbar = addToolBar("Main");
    toolbar->setMovable(false);
    toolbar->setIconSize(QSize(16, 16));
    QStyle* st = style();
    auto place = [&](QAction* a, QStyle::StandardPixmap icon, const QString& tip) {
        a->setIcon(st->standardIcon(icon));
        if (!a->property("qmNotAvailable").toBool()) a->setToolTip(tip);
        toolbar->addAction(a);
    };
    place(newEmail, QStyle::SP_FileIcon, "New Email");
    place(actions_[Command::ImportAddresses], QStyle::SP_DialogOpenButton,
          "Import Email Addresses");
    place(actions_[Command::DeliveryReport], QStyle::SP_FileDialogDetailedView,
          "Mail Delivery Report");
    place(tour, QStyle::SP_DialogHelpButton, "See Online Tutorial");
    toolbar->addSeparator();
    place(removeAll, QStyle::SP_TrashIcon, "Remove all attachments");
    place(actions_[Command::SendEmail], QStyle::SP_MediaPlay, "Send Emails");
    place(attach, QStyle::SP_FileLinkIcon, "Add Attachments ");
    place(actions_[Command::StopSending], QStyle::SP_MediaStop, "Stop Sending Emails");
    toolbar->addSeparator();
    place(insertPage, QStyle::SP_DirOpenIcon, "Insert Webpage(*.htm;*.html;*.shtml)");
    place(removePage, QStyle::SP_DialogDiscardButton, "Remove Inserted Web Page");
    place(actions_[Command::StopImporting], QStyle::SP_BrowserStop,
          "Stop Importing Email Addresses");
    toolbar->addSeparator();
    place(actions_[Command::GroupManagement], QStyle::SP_DirHomeIcon, "Launch Group Manager");
    place(actions_[Command::GetUnsubscribers], QStyle::SP_ArrowDown, "Get Unsubscribers List");
    place(actions_[Command::SpamCheck], QStyle::SP_MessageBoxWarning, "Check Mail for Spam");
    removeAll_ = removeAll;
}

QAction* MainWindow::action(Command command) const {
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::updateCommands() {
    for (auto& [command, act] : actions_)
        act->setEnabled(available_[command] && isCommandEnabled(command, state_));
    // "Remove All" follows the rule of "Remove Selected".
    removeAll_->setEnabled(available_[Command::RemoveAttachments] &&
                           isCommandEnabled(Command::RemoveAttachments, state_));
    // The form's buttons repeat "Add Attachment" and "Remove Selected" and follow their rules.
    attach_->setEnabled(actions_[Command::AddAttachment]->isEnabled());
    detach_->setEnabled(actions_[Command::RemoveAttachments]->isEnabled());
    autoUnsubscribe_->setChecked(store_.readFlag(keys::kAutoUnsubscribe));
    showReminder_->setChecked(store_.readFlag(keys::kShowReminder));
    const bool idle = !state_.sending;
    for (QWidget* w : {static_cast<QWidget*>(senderName_), static_cast<QWidget*>(senderAddress_),
                       static_cast<QWidget*>(subject_), static_cast<QWidget*>(recipients_),
                       static_cast<QWidget*>(selectGroup_), static_cast<QWidget*>(attachments_)})
        w->setEnabled(idle);
}

void MainWindow::setSending(bool sending) {
    state_.sending = sending;
    statusTab_->setSending(sending);
    if (sending) tabs_->setCurrentIndex(StatusTab);
    updateCommands();
}

void MainWindow::setImporting(bool importing) {
    state_.importing = importing;
    updateCommands();
}

void MainWindow::runFinished(const RunSummary& summary) {
    statusTab_->progress()->setValue(statusTab_->progress()->maximum());
    inform(this, kMsgFinished);
    if (auto left = unavailableGroupsText(summary.unavailableGroups); !left.empty())
        inform(this, toScreen(left));
    // The engine reports the end as its last act, so the wait is short and cannot meet a thread
    // that waits for this window.
    showStopping();
    run_->wait();
    closeStopping();
    if (summary.askSupport && ask(this, toScreen(supportQuestion(summary.failedPercent))))
        QDesktopServices::openUrl(QUrl(kSupportUrl));
    statusTab_->finished();
    setSending(false);
}

void MainWindow::runAborted(const QString& message) {
    // No wait here: the sending thread that reported the failure waits for this handler.
    closeStopping();
    statusTab_->finished();
    setSending(false);
    inform(this, message);
}

void MainWindow::runStopped() {
    run_->wait();
    closeStopping();
    statusTab_->finished();
    setSending(false);
}

void MainWindow::showStopping() {
    if (!stopping_) stopping_ = new StoppingThreadsDialog(this);
    stopping_->show();
    stopping_->repaint();
}

void MainWindow::closeStopping() {
    if (!stopping_) return;
    stopping_->done();
    stopping_->close();
    stopping_->deleteLater();
    stopping_ = nullptr;
}

void MainWindow::sendEmail() {
    prepareRun(std::nullopt);
}

void MainWindow::stopSending() {
    if (!state_.sending) return;
    if (!ask(this, toScreen(kAskStopSending))) return;
    // The run may have ended while the question was open.
    if (!state_.sending) return;
    run_->stop();
    // Closed when the engine reports that its threads have ended (runStopped), or by the relay
    // failure that ended the run first (runAborted).
    showStopping();
}

void MainWindow::prepareRun(std::optional<QString> testAddresses) {
    if (state_.sending || state_.importing || preparing_) return;
    preparing_ = true;
    auto go = [this, testAddresses](const QString& html) {
        preparing_ = false;
        startRun(html, testAddresses);
    };
    if (composer_->isHtml())
        composer_->html(go);
    else
        go({});
}

void MainWindow::startRun(const QString& html, const std::optional<QString>& testAddresses) {
    if (state_.sending) return;
    RunFields fields;
    message_.senderName = fromScreen(senderName_->text());
    message_.senderAddress = fromScreen(senderAddress_->text());
    message_.subject = fromScreen(subject_->text());
    message_.format = composer_->isHtml() ? MessageFormat::Html : MessageFormat::PlainText;
    if (composer_->isHtml()) message_.htmlText = fromScreen(html);
    message_.plainText = fromScreen(composer_->plainEdit()->toPlainText());
    message_.useDynamicVariables = composer_->useVariables();
    fields.message = message_;
    fields.recipientsText = fromScreen(testAddresses ? *testAddresses : recipients_->toPlainText());
    if (!testAddresses) fields.groupsText = fromScreen(groups_->text());
    fields.testCampaign = testAddresses.has_value();
    fields.delivery = settingsTab_->settings();

    RunRequestHooks hooks;
    hooks.confirm = [this](std::string_view question) { return ask(this, toScreen(question)); };
    hooks.note = [this](std::string_view text) { inform(this, text); };
    RunBuild built = buildRunRequest(std::move(fields), store_, hooks);
    // The check keeps the trimmed values.
    message_ = built.request.message;
    senderName_->setText(toScreen(message_.senderName));
    senderAddress_->setText(toScreen(message_.senderAddress));
    subject_->setText(toScreen(message_.subject));
    if (!built.check.ok) {
        if (!built.check.message.empty()) inform(this, built.check.message);
        focusField(built.check.focus);
        return;
    }
    // The run's observer resets the grid and switches to the "Send Status" tab.
    if (!run_->start(std::move(built.request))) inform(this, kMsgNoValidAddress);
}

void MainWindow::focusField(MessageField field) {
    switch (field) {
        case MessageField::SenderName:
            senderName_->setFocus();
            break;
        case MessageField::SenderAddress:
            senderAddress_->setFocus();
            break;
        case MessageField::Subject:
            subject_->setFocus();
            break;
        case MessageField::MessageTab:
            tabs_->setCurrentIndex(MessageTab);
            break;
        case MessageField::DeliverySettings:
        case MessageField::StartTime:
            tabs_->setCurrentIndex(SettingsTab);
            settingsTab_->serverField()->setFocus();
            break;
        case MessageField::None:
            break;
    }
}

void MainWindow::testCampaign() {
    TestCampaignDialog dialog(
        [](const std::string& text) {
            auto refusal = checkTestAddresses(text);
            return refusal ? std::string(*refusal) : std::string();
        },
        this);
    if (dialog.exec() != QDialog::Accepted) return;
    const QString addresses = dialog.addresses();
    if (parseAddressList(fromScreen(addresses)).addresses.empty()) {
        inform(this, kMsgNoTestAddress);
        return;
    }
    prepareRun(addresses);
}

void MainWindow::showDeliveryReport() {
    DeliveryReportDialog dialog(paths_, run_->failures(), this);
    dialog.exec();
}

void MainWindow::chooseAttachments() {
    const QStringList files = QFileDialog::getOpenFileNames(
        this, "Select File Attachment(s)", {},
        "Image Files (*.bmp *.jpg *.gif);;Html Files(*.htm *.html *.shtml);;All Files(*)");
    if (!files.isEmpty()) addAttachments(files);
}

void MainWindow::addAttachments(const QStringList& files) {
    std::vector<std::string> chosen;
    for (const QString& f : files) chosen.push_back(fromScreen(f));
    const std::string refusal = message_.attachments.addFiles(chosen);
    showAttachments();
    if (!refusal.empty()) inform(this, refusal);
}

void MainWindow::removeSelectedAttachment() {
    std::optional<std::size_t> row;
    if (attachments_->currentRow() >= 0 && !attachments_->selectedItems().isEmpty())
        row = static_cast<std::size_t>(attachments_->currentRow());
    const std::string refusal = message_.attachments.removeAt(row);
    showAttachments();
    if (!refusal.empty()) inform(this, refusal);
}

void MainWindow::removeAllAttachments() {
    message_.attachments.clear();
    showAttachments();
}

void MainWindow::showAttachments() {
    attachments_->clear();
    for (const std::string& name : message_.attachments.names())
        attachments_->addItem(toScreen(name));
    state_.attachments = static_cast<int>(message_.attachments.size());
    updateCommands();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    std::string_view refusal = closeGuardMessage(state_);
    if (!refusal.empty()) {
        inform(this, refusal);
        event->ignore();
        return;
    }
    if (!settingsSaved_) {
        saveDeliverySettings(store_, settingsTab_->settings());
        settingsSaved_ = true;
    }
    event->accept();
}

void MainWindow::newEmail() {
    newMessage(message_);
    composer_->newMessage();
    senderAddress_->clear();
    senderName_->clear();
    subject_->clear();
    recipients_->clear();
    showAttachments();
    tabs_->setCurrentIndex(MessageTab);
    senderName_->setFocus();
}

void MainWindow::selectGroups() {
    SelectGroupsDialog dialog(paths_, groups_->text(), this);
    dialog.exec();
    groups_->setText(dialog.selection());
}

void MainWindow::insertWebpage() {
    const QString path = QFileDialog::getOpenFileName(this, "Insert Web Page", {},
                                                      "Html Files(*.htm *.html *.shtml)");
    if (path.isEmpty()) return;
    InsertPageResult inserted = insertWebPage(message_, fromScreen(path));
    showAttachments();
    for (const std::string& text : inserted.messages) inform(this, text);
    if (inserted.loaded) composer_->insertPage(path, message_.generatedPage);
}

void MainWindow::createHtmlPage() {
    HtmlPageDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    message_.generatedPage = false;
    composer_->setDocumentText(dialog.text());
}

void MainWindow::removeWebPage() {
    composer_->removePage();
    message_.pageInserted = false;
    message_.generatedPage = false;
    message_.webPagePath.clear();
    message_.attachments.clear();
    showAttachments();
}

void MainWindow::addUnsubscribeLink() {
    UnsubscribeDialog dialog(toScreen(message_.unsubscribeAddress),
                             message_.unsubscribeScope == UnsubscribeScope::SingleGroup, this);
    if (dialog.exec() != QDialog::Accepted) return;
    message_.unsubscribeAddress = fromScreen(dialog.address());
    message_.unsubscribeScope =
        dialog.singleGroup() ? UnsubscribeScope::SingleGroup : UnsubscribeScope::AllGroups;
}

void MainWindow::toggleAutoUnsubscribe(bool on) {
    if (!on && !ask(this,
                    "Turning off this option won't allow you to unsubscribe the users while "
                    "sending the mails. Would you like to continue?")) {
        autoUnsubscribe_->setChecked(true);
        return;
    }
    store_.writeFlag(keys::kAutoUnsubscribe, on);
}

void MainWindow::nextPane() {
    QWidget* panes[] = {senderName_, recipients_, attachments_, tabs_->currentWidget()};
    QWidget* focused = QApplication::focusWidget();
    int current = -1;
    for (int i = 0; i < 4; ++i)
        if (focused && (focused == panes[i] || panes[i]->isAncestorOf(focused))) current = i;
    QWidget* next = panes[(current + 1) % 4];
    next->setFocus();
    if (!next->hasFocus()) next->nextInFocusChain()->setFocus();
}

}  // namespace qm::ui
