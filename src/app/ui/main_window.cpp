#include "app/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/desktop_core.h"
#include "app/ui/campaign_form.h"
#include "app/ui/reminder_dialog.h"
#include "common/file_util.h"
#include "common/ui/message_boxes.h"
#include "common/ui/not_available.h"
#include "common/ui/text.h"
#include "common/ui/undo_key.h"
#include "config/data_folder.h"
#include "delivery/campaign_run.h"
#include "delivery/delivery_report.h"
#include "delivery/delivery_settings.h"
#include "delivery/run_journal.h"
#include "delivery/run_request.h"
#include "delivery/test_campaign.h"
#include "delivery/ui/delivery_report_dialog.h"
#include "delivery/ui/run_forwarder.h"
#include "delivery/ui/send_status_tab.h"
#include "delivery/ui/sender_auth_box.h"
#include "delivery/ui/smtp_settings_tab.h"
#include "delivery/ui/stopping_threads_dialog.h"
#include "delivery/ui/test_campaign_dialog.h"
#include "groups/address.h"
#include "groups/address_extraction.h"
#include "groups/spreadsheet_file.h"
#include "groups/ui/address_extraction_runner.h"
#include "groups/ui/group_window.h"
#include "groups/ui/sheet_name_dialog.h"
#include "message/eml_content.h"
#include "message/html_tools.h"
#include "message/mail_shape.h"
#include "message/ui/composer.h"
#include "message/ui/eml_import_dialog.h"
#include "message/ui/html_page_dialog.h"
#include "message/ui/preview_view.h"
#include "message/ui/template_wizard_dialog.h"
#include "message/ui/unsubscribe_dialog.h"
#include "scheduler/schedule_store.h"
#include "scheduler/ui/schedule_grid.h"
#include "scheduler/ui/scheduler_timer.h"
#include "scheduler/ui/sent_status_dialog.h"
#include "spamcheck/spam_check.h"
#include "spamcheck/ui/spam_check_busy.h"
#include "spamcheck/ui/spam_score_dialog.h"
#include "subscriptions/ui/filter_dialog.h"
#include "subscriptions/ui/retrieval_dialog.h"

namespace qm::ui {

namespace {

enum class Menu { None, File, Tools, RemoveAttachments, Html, Subscribers, Help };

// The tool bar, left to right, its groups apart.
// clang-format off
constexpr std::optional<Command> kSeparator = std::nullopt;
constexpr std::optional<Command> kToolBar[] = {
    Command::NewEmail, Command::ImportAddresses, Command::DeliveryReport, Command::QuickTour,
    kSeparator,
    Command::RemoveAllAttachments, Command::SendEmail, Command::AddAttachment, Command::StopSending,
    kSeparator,
    Command::InsertWebpage, Command::RemoveWebPage, Command::StopImporting,
    kSeparator,
    Command::GroupManagement, Command::GetUnsubscribers, Command::SpamCheck};
// clang-format on

bool notAvailable(const QAction* action) {
    return action->property("qmNotAvailable").toBool();
}

// Until a manual exists, the help is the README of the installed documentation.
QString helpFile() {
    return toScreen(installedReadme());
}

}  // namespace

// One entry of the menu bar (or Ctrl+M, which has no menu), in menu order.
struct MainWindow::CommandRow {
    Command command;
    Menu menu;
    const char* text;
    const char* shortcut;                        // "" for none
    const char* tip;                             // "" for none
    std::optional<QStyle::StandardPixmap> icon;  // for the tool bar
    void (MainWindow::*slot)();                  // nullptr: the feature is not built yet
    bool separatorBefore = false;
    const SettingKey* checkedBy = nullptr;  // a check mark that shows this flag
};

std::span<const MainWindow::CommandRow> MainWindow::commandTable() {
    using C = Command;
    using S = QStyle;
    using W = MainWindow;
    constexpr std::nullopt_t none = std::nullopt;
    static const CommandRow rows[] = {
        {C::NewEmail, Menu::File, "&New Email", "Ctrl+N", "New Email", S::SP_FileIcon,
         &W::newEmail},
        {C::SendEmail, Menu::File, "&Send Email", "Ctrl+R", "Send Emails", S::SP_MediaPlay,
         &W::sendEmail},
        {C::StopSending, Menu::File, "Stop Sending", "Ctrl+F", "Stop Sending Emails",
         S::SP_MediaStop, &W::stopSending},
        {C::Exit, Menu::File, "E&xit", "", "", none, &W::exitProgram, true},

        {C::AddAttachment, Menu::Tools, "Add Attachment...", "Ctrl+T", "Add Attachments ",
         S::SP_FileLinkIcon, &W::chooseAttachments},
        {C::ImportEml, Menu::Tools, "Import EML File...", "", "", none, &W::importEml},
        {C::RemoveAttachments, Menu::RemoveAttachments, "Remove Selected", "", "", none,
         &W::removeSelectedAttachment},
        {C::RemoveAllAttachments, Menu::RemoveAttachments, "Remove All", "Ctrl+L",
         "Remove all attachments", S::SP_TrashIcon, &W::removeAllAttachments},
        {C::ImportAddresses, Menu::Tools, "&Import Email Address...", "Ctrl+I",
         "Import Email Addresses", S::SP_DialogOpenButton, &W::importEmailAddresses, true},
        {C::StopImporting, Menu::Tools, "Stop Importing", "", "Stop Importing Email Addresses",
         S::SP_BrowserStop, &W::stopImporting},
        {C::SpamCheck, Menu::Tools, "Spam Check", "", "Check Mail for Spam",
         S::SP_MessageBoxWarning, &W::spamCheck},
        {C::GroupManagement, Menu::Tools, "Group Management", "Ctrl+G", "Launch Group Manager",
         S::SP_DirHomeIcon, &W::groupManagement},
        {C::TestCampaign, Menu::Tools, "Test Campaign", "", "", none, &W::testCampaign},
        {C::DeliveryReport, Menu::Tools, "Mail Delivery Report...", "Ctrl+D",
         "Mail Delivery Report", S::SP_FileDialogDetailedView, &W::showDeliveryReport},
        {C::SchedulerStatus, Menu::Tools, "Scheduler Sent Status", "", "", none,
         &W::showSchedulerStatus},

        {C::InsertWebpage, Menu::Html, "Insert Webpage...", "",
         "Insert Webpage(*.htm;*.html;*.shtml)", S::SP_DirOpenIcon, &W::insertWebpage},
        {C::CreateHtmlPage, Menu::Html, "Create HTML Page...", "Ctrl+H", "", none,
         &W::createHtmlPage},
        {C::RemoveWebPage, Menu::Html, "Remove Web Page", "", "Remove Inserted Web Page",
         S::SP_DialogDiscardButton, &W::removeWebPage},
        {C::TemplateWizard, Menu::Html, "Launch Template Wizard...", "", "", none,
         &W::launchTemplateWizard},

        {C::AddUnsubscribeLink, Menu::Subscribers, "Add Unsubscribe Link...", "", "", none,
         &W::addUnsubscribeLink},
        {C::GetUnsubscribers, Menu::Subscribers, "Get Unsubscribers List...", "Ctrl+U",
         "Get Unsubscribers List", S::SP_ArrowDown, &W::getUnsubscribers},
        {C::FilterUnsubscribers, Menu::Subscribers, "Filter Unsubscribers...", "", "", none,
         &W::filterUnsubscribers},
        {C::SaveUnsubscribed, Menu::Subscribers, "Save Unsubscribed Users...", "", "", none,
         &W::saveUnsubscribed},
        {C::AutoUnsubscribe, Menu::Subscribers, "Auto Unsubscribe", "", "", none,
         &W::toggleAutoUnsubscribe, false, &keys::kAutoUnsubscribe},
        {C::GetSubscribers, Menu::Subscribers, "Get Subscribers List...", "", "", none,
         &W::getSubscribers},

        {C::HelpContents, Menu::Help, "Contents", "F1", "", none, &W::openHelp},
        {C::QuickTour, Menu::Help, "Quick Tour", "", "See Online Tutorial", S::SP_DialogHelpButton,
         &W::openTutorial},
        {C::ShowReminder, Menu::Help, "Show Reminder For Quick Tour", "", "", none,
         &W::toggleReminder, false, &keys::kShowReminder},
        {C::HomePage, Menu::Help, "Home Page", "", "", none, &W::openHomePage},
        {C::About, Menu::Help, "&About Quillmark...", "", "", none, &W::showAbout, true},

        // Ctrl+M works wherever the focus is in the window.
        {C::InsertVariable, Menu::None, "Insert Dynamic Variable", "Ctrl+M", "", none,
         &W::insertVariable},
    };
    return rows;
}

MainWindow::MainWindow(DesktopCore& core, QWidget* parent) : QMainWindow(parent), core_(core) {
    setWindowTitle("Quillmark");
    forwarder_ = new RunForwarder(this, this);
    core_.runEvents.attach(forwarder_);

    form_ = new CampaignForm(core_.paths);
    tabs_ = new QTabWidget;
    preview_ = new PreviewView;
    composer_ = new Composer(toScreen(core_.paths.programFolder()), preview_);
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
    connect(statusTab_, &SendStatusTab::viewLogRequested, this, [this] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(toScreen(core_.paths.sendLog())));
    });

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(form_);
    layout->addWidget(tabs_, 1);
    setCentralWidget(central);
    buildCommands();

    settingsTab_->load(loadDeliverySettings(core_.store));
    settingsTab_->senderAuth()->load(loadDkimSettings(core_.store));
    // Straight to exchangers, receivers judge the sender's own domain: say what they will find.
    auto checkSenderDomain = [this] {
        const bool mx = settingsTab_->mxModeButton()->isChecked();
        std::string sender = fromScreen(form_->senderAddress()->text().trimmed());
        settingsTab_->senderAuth()->checkSenderDomain(mx ? std::string(domainOf(sender)) : "");
    };
    connect(settingsTab_->mxModeButton(), &QRadioButton::toggled, this, checkSenderDomain);
    // Another sender may mean another domain: its warnings, not the last one's.
    connect(form_->senderAddress(), &QLineEdit::editingFinished, this, [this, checkSenderDomain] {
        if (settingsTab_->mxModeButton()->isChecked() && form_->senderAddress()->isModified()) {
            form_->senderAddress()->setModified(false);
            checkSenderDomain();
        }
    });
    const MailShape storedShape = loadMailShape(core_.store);
    settingsTab_->setTextPart(storedShape.textPart);
    settingsTab_->loadProfile(loadProfileState(core_.store), storedShape.listId,
                              storedShape.footerMarkup);
    // Offered with the profile: what receivers find in the sender domain's DNS, whatever the mode.
    connect(settingsTab_, &SmtpSettingsTab::checkDomainRequested, this, [this] {
        std::string sender = fromScreen(form_->senderAddress()->text().trimmed());
        std::string domain(domainOf(sender));
        if (domain.empty()) domain = settingsTab_->senderAuth()->settings().domain;
        if (domain.empty()) {
            inform(this, QString("Enter the sender's Email Address first: its domain is checked."));
            return;
        }
        settingsTab_->accountTabs()->setCurrentWidget(settingsTab_->senderAuth());
        settingsTab_->senderAuth()->checkSenderDomain(domain);
    });

    scheduleGrid_ = new ScheduleGrid;
    settingsTab_->setScheduleView(scheduleGrid_);
    connect(scheduleGrid_, &ScheduleGrid::deleteRequested, this, &MainWindow::deleteScheduled);
    refreshSchedule();
    // A due entry goes out with the delivery settings the tab shows at that moment; their check
    // speaks at every tick while it fails.
    scheduler_ = new SchedulerTimer(
        core_.paths, core_.log,
        [this]() -> std::optional<DueRunOptions> {
            DueRunOptions o;
            o.target.settings = settingsTab_->settings();
            CheckResult check = checkDeliverySettings(o.target.settings);
            if (!check.ok) {
                inform(this, check.message);
                focusField(check.focus);
                return std::nullopt;
            }
            o.target.mxStartTls = core_.store.readFlag(keys::kMxStartTls);
            std::string dkimError;
            if (!loadRunSigner(settingsTab_->senderAuth()->settings(), o.sources.dkim, dkimError)) {
                inform(this, dkimError);
                return std::nullopt;
            }
            o.unsubscribeAddress = message_.unsubscribeAddress;
            o.unsubscribeScope = message_.unsubscribeScope;
            o.shape = mailShape();
            return o;
        },
        this);
    connect(scheduler_, &SchedulerTimer::scheduleChanged, this, &MainWindow::refreshSchedule);
    scheduler_->start();

    setTabOrder(form_->lastField(), tabs_);
    auto* f6 = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(f6, &QShortcut::activated, this, &MainWindow::nextPane);
    // Alt+Backspace undoes in every text field of the program while this window lives.
    undoKey_ = new UndoKey(this);
    qApp->installEventFilter(undoKey_);
    connect(settingsTab_, &SmtpSettingsTab::helpRequested, this, &MainWindow::openHelp);
    if (helpFile().isEmpty()) markNotAvailable(settingsTab_->helpButton());

    updateCommands();
    resize(800, 580);
    form_->senderName()->setFocus();
    offerSubscriptionCommands();
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(undoKey_);
    GroupWindow::provideSubscriptionCommands({});
    // A sending thread may be waiting for this window to take a relay failure; it must not hold up
    // the wait for the run's threads.
    forwarder_->detach();
    core_.run.stop();
    core_.run.wait();
    // The run outlives the window: nothing it says later may reach this window's observer.
    core_.runEvents.attach(nullptr);
    // The reports describe the last run of this program run only.
    deleteReports(core_.paths);
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

void MainWindow::buildCommands() {
    std::map<Menu, QMenu*> menus;
    QMenuBar* bar = menuBar();
    menus[Menu::File] = bar->addMenu("&File");
    menus[Menu::Tools] = bar->addMenu("&Tools");
    menus[Menu::Html] = bar->addMenu("Ht&ml");
    menus[Menu::Subscribers] = bar->addMenu("Su&bscribers");
    menus[Menu::Help] = bar->addMenu("&Help");
    for (const CommandRow& row : commandTable()) {
        QAction* act = nullptr;
        if (row.menu == Menu::None) {
            act = new QAction(row.text, this);
            act->setShortcutContext(Qt::WindowShortcut);
            addAction(act);
        } else {
            QMenu*& menu = menus[row.menu];
            // The only submenu sits in Tools where its first entry comes.
            if (!menu) menu = menus[Menu::Tools]->addMenu("Remove Attachments");
            if (row.separatorBefore) menu->addSeparator();
            act = menu->addAction(row.text);
        }
        if (*row.shortcut) act->setShortcut(QKeySequence(row.shortcut));
        if (*row.tip) act->setToolTip(row.tip);
        if (row.icon) act->setIcon(style()->standardIcon(*row.icon));
        if (row.checkedBy) {
            act->setCheckable(true);
            act->setChecked(core_.store.readFlag(*row.checkedBy));
        }
        if (row.slot)
            connect(act, &QAction::triggered, this, row.slot);
        else
            markNotAvailable(act);
        actions_[row.command] = act;
    }
    if (helpFile().isEmpty()) markNotAvailable(action(Command::HelpContents));
    for (auto& [kind, menu] : menus) {
        menu->setToolTipsVisible(true);
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::updateCommands);
    }
    form_->setAttachmentCommands(action(Command::AddAttachment), action(Command::RemoveAttachments),
                                 action(Command::RemoveAllAttachments));

    auto* toolbar = addToolBar("Main");
    toolbar->setMovable(false);
    toolbar->setIconSize(QSize(16, 16));
    for (const std::optional<Command>& command : kToolBar) {
        if (command)
            toolbar->addAction(action(*command));
        else
            toolbar->addSeparator();
    }
}

QAction* MainWindow::action(Command command) const {
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

CampaignRun& MainWindow::run() const {
    return core_.run;
}

void MainWindow::updateCommands() {
    for (auto& [command, act] : actions_)
        act->setEnabled(!notAvailable(act) && isCommandEnabled(command, state_));
    for (const CommandRow& row : commandTable())
        if (row.checkedBy) action(row.command)->setChecked(core_.store.readFlag(*row.checkedBy));
    // What a run was started from stays as it is until the run ends. Disabling a whole tab keeps
    // the enabled state its own rules gave each field, so unlocking restores exactly that.
    const bool locked = state_.sending;
    form_->setLocked(locked);
    composer_->setEnabled(!locked);
    settingsTab_->setEnabled(!locked);
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

void MainWindow::importEmailAddresses() {
    if (auto refusal = extractionRefusal(fromScreen(form_->recipients()->toPlainText()))) {
        inform(this, *refusal);
        return;
    }
    QString path =
        QFileDialog::getOpenFileName(this, "Import Address", QString(),
                                     "Text Files(*.txt);;Excel Files(*.xls;*.xlsx;*.ods;*.csv)");
    if (!path.isEmpty()) importFrom(path);
}

void MainWindow::importFrom(const QString& path, std::optional<std::string> sheet) {
    if (state_.importing) return;
    ExtractionRequest request;
    request.path = fromScreen(path);
    if (needsSheetName(request.path) && !sheet) {
        std::vector<std::string> names;
        std::string error;
        if (!sheetNames(request.path, names, &error)) {
            inform(this, toScreen(error));
            return;
        }
        sheet = askSheetName(names, this);
        if (!sheet) return;
    }
    request.sheet = sheet.value_or(std::string());
    request.boxText = fromScreen(form_->recipients()->toPlainText());
    if (!extraction_) {
        extraction_ = new AddressExtractionRunner(this);
        connect(extraction_, &AddressExtractionRunner::progressText, this,
                [this](const QString& text) { statusBar()->showMessage(text); });
        connect(extraction_, &AddressExtractionRunner::finished, this,
                [this](const ExtractionResult& r) {
                    if (r.status != ExtractionStatus::Failed)
                        form_->recipients()->setPlainText(toScreen(r.boxText));
                    setImporting(false);
                    if (!r.message.empty()) inform(this, toScreen(r.message));
                });
    }
    setImporting(true);
    extraction_->start(std::move(request));
}

void MainWindow::stopImporting() {
    if (extraction_) extraction_->stop();
}

void MainWindow::runFinished(const RunSummary& summary) {
    statusTab_->progress()->setValue(statusTab_->progress()->maximum());
    inform(this, kMsgFinished);
    if (auto left = unavailableGroupsText(summary.unavailableGroups); !left.empty())
        inform(this, toScreen(left));
    // The engine reports the end as its last act, so the wait is short and cannot meet a thread
    // that waits for this window.
    showStopping();
    core_.run.wait();
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
    core_.run.wait();
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
    core_.run.stop();
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
    takeScreens(html);

    RunFields fields;
    fields.message = message_;
    fields.recipientsText =
        fromScreen(testAddresses ? *testAddresses : form_->recipients()->toPlainText());
    if (!testAddresses) fields.groupsText = fromScreen(form_->groupsField()->text());
    fields.testCampaign = testAddresses.has_value();
    fields.delivery = settingsTab_->settings();
    fields.dkim = settingsTab_->senderAuth()->settings();
    RunRequestHooks hooks;
    hooks.confirm = [this](std::string_view question) { return ask(this, toScreen(question)); };
    hooks.note = [this](std::string_view text) { inform(this, text); };
    const bool later = !testAddresses && !fields.delivery.startNow;
    if (later)
        hooks.startTimeValid = [this] { return settingsTab_->launchMoment() > std::time(nullptr); };
    RunBuild built = buildRunRequest(std::move(fields), core_.store, hooks);
    // The check keeps the trimmed values.
    message_ = built.request.message;
    form_->showMessage(message_);
    if (!built.check.ok) {
        if (!built.check.message.empty()) inform(this, built.check.message);
        focusField(built.check.focus);
        return;
    }
    if (later) {
        storeForLater(built.request);
        return;
    }
    // The run's observer resets the grid and switches to the "Send Status" tab.
    if (!core_.run.start(std::move(built.request))) inform(this, kMsgNoValidAddress);
}

void MainWindow::offerResume() {
    if (state_.sending) return;
    const std::optional<InterruptedRun> found =
        findInterruptedRun(core_.paths, core_.store.readFlag(keys::kAutoUnsubscribe));
    if (!found) return;
    for (;;) {
        const int pick =
            askChoice(this, toScreen(interruptedRunQuestion(*found)), {"Yes", "No", "Show"});
        if (pick == 2) {
            inform(this, interruptedRunDetails(*found));
            continue;
        }
        if (pick == 1) removeFile(found->journalPath);
        if (pick != 0) return;
        break;
    }
    RunRequest request;
    std::string error;
    if (!buildResumeRequest(found->journalPath, core_.store, settingsTab_->senderAuth()->settings(),
                            request, error)) {
        inform(this, error);
        return;
    }
    if (!core_.run.start(std::move(request)))
        inform(this, "Cannot resume " + found->journalPath +
                         ": another process is sending it, or it changed since it was read.");
}

void MainWindow::storeForLater(const RunRequest& request) {
    ScheduleStoreResult stored =
        storeCampaign(core_.paths, request, settingsTab_->launchMoment(),
                      repetitionFromNumber(settingsTab_->repetitionChoice()), std::time(nullptr));
    if (stored.status == ScheduleStoreStatus::Full) {
        inform(this, kMsgScheduleFull);
        return;
    }
    if (stored.status == ScheduleStoreStatus::CopyFailed) {
        inform(this, stored.message);
        return;
    }
    // The groups went into the outbox file's recipient list.
    form_->groupsField()->clear();
    refreshSchedule();
    if (stored.status == ScheduleStoreStatus::Unwritable)
        inform(this, "The schedule file cannot be written: " + core_.paths.schedulerFile());
    else
        inform(this, kMsgScheduleSaved);
}

void MainWindow::deleteScheduled(const ScheduleEntry& entry) {
    const ScheduleDeleteStatus status = qm::deleteScheduled(core_.paths, entry);
    refreshSchedule();
    // The grid is shown again first, so that the message speaks about the list the user now sees.
    if (status == ScheduleDeleteStatus::Changed)
        inform(this, kMsgScheduleChanged);
    else if (status == ScheduleDeleteStatus::Unwritable)
        inform(this, "The schedule file cannot be written: " + core_.paths.schedulerFile());
}

void MainWindow::refreshSchedule() {
    ScheduleList list;
    list.load(core_.paths.schedulerFile());
    scheduleGrid_->showEntries(list);
}

void MainWindow::showSchedulerStatus() {
    SentStatusDialog dialog(core_.paths, this);
    dialog.exec();
}

void MainWindow::takeScreens(const QString& html) {
    form_->fillMessage(message_);
    message_.format = composer_->isHtml() ? MessageFormat::Html : MessageFormat::PlainText;
    if (composer_->isHtml()) message_.htmlText = fromScreen(html);
    message_.plainText = fromScreen(composer_->plainEdit()->toPlainText());
    message_.useDynamicVariables = composer_->useVariables();
    applyMailShape(message_, mailShape());
}

MailShape MainWindow::mailShape() const {
    // The tab's choice as it stands (saved with the tab at close); the URL as the dialog stored it.
    MailShape shape = loadMailShape(core_.store);
    shape.textPart = settingsTab_->textPart();
    const ProfileOptions tab = settingsTab_->profileOptions();
    shape.listId = tab.listId;
    shape.footerMarkup = tab.footerMarkup;
    return shape;
}

void MainWindow::spamCheck() {
    if (state_.sending || state_.importing || preparing_) return;
    preparing_ = true;
    auto go = [this](const QString& html) {
        preparing_ = false;
        checkForSpam(html);
    };
    if (composer_->isHtml())
        composer_->html(go);
    else
        go({});
}

void MainWindow::checkForSpam(const QString& html) {
    takeScreens(html);
    MessageCheckHooks hooks;
    hooks.confirm = [this](std::string_view question) { return ask(this, toScreen(question)); };
    CheckResult check = checkMessage(message_, true, hooks);
    // The check keeps the trimmed values.
    form_->showMessage(message_);
    if (!check.ok) {
        if (!check.message.empty()) inform(this, check.message);
        focusField(check.focus);
        return;
    }
    SpamCheckBusyDialog busy(this);
    SpamCheckResult result =
        busy.run([m = message_, paths = core_.paths](const std::atomic<bool>& cancel) {
            return runSpamCheck(m, paths, {}, &cancel);
        });
    switch (result.status) {
        case SpamCheckResult::Done:
            if (!result.report.spam) {
                inform(this, kMsgNotSpam);
                return;
            }
            {
                SpamScoreDialog score(std::move(result.report), this);
                score.exec();
            }
            return;
        case SpamCheckResult::Cancelled:
            return;
        default:
            inform(this, result.message);
    }
}

void MainWindow::importEml() {
    EmlImportDialog dialog(toScreen(core_.paths.emlOutput()), this);
    const bool added = dialog.exec() == QDialog::Accepted;
    const EmlImportResult* result = added ? &dialog.result() : nullptr;
    const std::vector<std::string> shown = takeEmlImport(message_, result, core_.paths.emlOutput());
    if (result) {
        // The imported message replaces an inserted page; its pictures are in the import folder.
        if (result->bodyIsHtml)
            composer_->replacePage(toScreen(result->body),
                                   toScreen(emlEditorBaseFolder(core_.paths.emlOutput())));
        else
            composer_->replacePageWithText(toScreen(result->body));
    }
    showAttachments();
    for (const std::string& text : shown) inform(this, text);
}

void MainWindow::focusField(MessageField field) {
    if (form_->focusField(field)) return;
    switch (field) {
        case MessageField::MessageTab:
            tabs_->setCurrentIndex(MessageTab);
            break;
        case MessageField::DeliverySettings:
            tabs_->setCurrentIndex(SettingsTab);
            settingsTab_->serverField()->setFocus();
            break;
        case MessageField::StartTime:
            tabs_->setCurrentIndex(SettingsTab);
            settingsTab_->timeField()->setFocus();
            break;
        default:
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
    dialog.field()->setPlainText(testAddresses_);  // the last accepted ones, to send again
    if (dialog.exec() != QDialog::Accepted) return;
    const QString addresses = dialog.addresses();
    if (parseAddressList(fromScreen(addresses)).addresses.empty()) {
        inform(this, kMsgNoTestAddress);
        return;
    }
    testAddresses_ = addresses;
    prepareRun(addresses);
}

void MainWindow::groupManagement() {
    GroupWindow window(core_.paths, this);
    window.exec();
}

void MainWindow::showDeliveryReport() {
    DeliveryReportDialog dialog(core_.paths, core_.run.failures(), this);
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
    const std::string refusal = message_.attachments.removeAt(form_->selectedAttachment());
    showAttachments();
    if (!refusal.empty()) inform(this, refusal);
}

void MainWindow::removeAllAttachments() {
    message_.attachments.clear();
    showAttachments();
}

void MainWindow::showAttachments() {
    form_->showAttachments(message_.attachments);
    state_.attachments = static_cast<int>(message_.attachments.size());
    updateCommands();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    CommandState state = state_;
    state.scheduledSending = scheduler_ && scheduler_->running();
    std::string_view refusal = closeGuardMessage(state);
    if (!refusal.empty()) {
        inform(this, refusal);
        event->ignore();
        return;
    }
    if (!settingsSaved_) {
        saveDeliverySettings(core_.store, settingsTab_->settings());
        saveDkimSettings(core_.store, settingsTab_->senderAuth()->settings());
        core_.store.write(keys::kTextPart, textPartName(settingsTab_->textPart()));
        saveProfileOptions(core_.store, settingsTab_->profileOptions(), nullptr);
        saveProfileState(core_.store, settingsTab_->profileState(), nullptr);
        settingsSaved_ = true;
    }
    event->accept();
}

void MainWindow::newEmail() {
    newMessage(message_);
    composer_->newMessage();
    form_->clear();
    showAttachments();
    tabs_->setCurrentIndex(MessageTab);
    form_->senderName()->setFocus();
}

void MainWindow::exitProgram() {
    close();
}

void MainWindow::insertWebpage() {
    const QString path = QFileDialog::getOpenFileName(this, "Insert Web Page", {},
                                                      "Html Files(*.htm *.html *.shtml)");
    if (path.isEmpty()) return;
    insertWebpageFile(path);
}

void MainWindow::insertWebpageFile(const QString& path) {
    InsertPageResult inserted = insertWebPage(message_, fromScreen(path));
    showAttachments();
    for (const std::string& text : inserted.messages) inform(this, text);
    if (inserted.loaded) composer_->insertPage(path, message_.generatedPage);
}

void MainWindow::launchTemplateWizard() {
    TemplateWizardDialog wizard(toScreen(installedDataFolder()), FileChoice::dialogs(), this);
    if (wizard.exec() != QDialog::Accepted || !wizard.insertIntoMessage()) return;
    insertWebpageFile(wizard.generatedPage());
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
    dialog.setUrl(toScreen(core_.store.read(keys::kUnsubscribeUrl)));
    if (dialog.exec() != QDialog::Accepted) return;
    message_.unsubscribeAddress = fromScreen(dialog.address());
    std::string error;
    if (!message_.unsubscribeAddress.empty() &&
        !core_.store.write(keys::kUnsubscribeUrl, fromScreen(dialog.url()), &error))
        inform(this, "The unsubscribe URL was not saved: " + error);
    message_.unsubscribeScope =
        dialog.singleGroup() ? UnsubscribeScope::SingleGroup : UnsubscribeScope::AllGroups;
}

void MainWindow::toggleAutoUnsubscribe() {
    QAction* toggle = action(Command::AutoUnsubscribe);
    toggle->setChecked(setAutoUnsubscribe(toggle->isChecked(), this));
}

bool MainWindow::setAutoUnsubscribe(bool on, QWidget* parent) {
    if (!on && !ask(parent,
                    "Turning off this option won't allow you to unsubscribe the users while "
                    "sending the mails. Would you like to continue?"))
        return true;
    core_.store.writeFlag(keys::kAutoUnsubscribe, on);
    return on;
}

void MainWindow::offerSubscriptionCommands() {
    GroupWindow::provideSubscriptionCommands(
        {[this](GroupCommand c, bool checked, QWidget* parent) {
             switch (c) {
                 case GroupCommand::GetUnsubscribers: {
                     RetrievalDialog dialog(core_.store, core_.paths, RetrievalMode::Unsubscribe,
                                            parent);
                     dialog.exec();
                     break;
                 }
                 case GroupCommand::FilterUnsubscribers:
                     openUnsubscriberFilter(core_.paths, FilterMode::Filter, parent);
                     break;
                 case GroupCommand::SaveUnsubscribed:
                     openUnsubscriberFilter(core_.paths, FilterMode::Save, parent);
                     break;
                 case GroupCommand::AutoUnsubscribe:
                     setAutoUnsubscribe(checked, parent);
                     break;
                 default:
                     break;
             }
             action(Command::AutoUnsubscribe)
                 ->setChecked(core_.store.readFlag(keys::kAutoUnsubscribe));
         },
         [this] { return core_.store.readFlag(keys::kAutoUnsubscribe); }});
}

void MainWindow::getUnsubscribers() {
    RetrievalDialog dialog(core_.store, core_.paths, RetrievalMode::Unsubscribe, this);
    dialog.exec();
    // The screen may have turned AutoUnsubscribe on or off: the check mark follows it.
    action(Command::AutoUnsubscribe)->setChecked(dialog.autoUnsubscribe());
}

void MainWindow::getSubscribers() {
    RetrievalDialog dialog(core_.store, core_.paths, RetrievalMode::Subscribe, this);
    dialog.exec();
}

void MainWindow::filterUnsubscribers() {
    openUnsubscriberFilter(core_.paths, FilterMode::Filter, this);
}

void MainWindow::saveUnsubscribed() {
    openUnsubscriberFilter(core_.paths, FilterMode::Save, this);
}

void MainWindow::toggleReminder() {
    core_.store.writeFlag(keys::kShowReminder, action(Command::ShowReminder)->isChecked());
}

void MainWindow::openHelp() {
    const QString file = helpFile();
    if (!file.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

void MainWindow::openTutorial() {
    QDesktopServices::openUrl(QUrl(kTutorialUrl));
}

void MainWindow::openHomePage() {
    QDesktopServices::openUrl(QUrl(kHomePageUrl));
}

void MainWindow::showAbout() {
    QMessageBox::about(this, "About Quillmark", "Quillmark\nPersonalised e-mail campaigns.");
}

void MainWindow::insertVariable() {
    composer_->insertVariable();
}

void MainWindow::nextPane() {
    QWidget* panes[] = {form_->senderName(), form_->recipients(), form_->attachmentList(),
                        tabs_->currentWidget()};
    QWidget* focused = QApplication::focusWidget();
    int current = -1;
    for (int i = 0; i < 4; ++i)
        if (focused && (focused == panes[i] || panes[i]->isAncestorOf(focused))) current = i;
    QWidget* next = panes[(current + 1) % 4];
    next->setFocus();
    if (!next->hasFocus()) next->nextInFocusChain()->setFocus();
}

}  // namespace qm::ui
