#include "subscriptions/ui/retrieval_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "common/text.h"
#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "config/settings.h"
#include "groups/group_selection.h"
#include "groups/ui/select_groups_dialog.h"
#include "subscriptions/mailbox_settings.h"
#include "subscriptions/ui/change_password_dialog.h"

namespace qm::ui {

namespace {

constexpr int kFieldLength = 50;

QLabel* boldLabel(const QString& text) {
    auto* label = new QLabel(text);
    QFont f("Arial");
    f.setPixelSize(14);
    f.setBold(true);
    label->setFont(f);
    return label;
}

// Calls reach the screen on its own thread; a screen already gone drops them.
class Forwarder : public RetrievalObserver {
  public:
    explicit Forwarder(RetrievalDialog* dialog, QLabel* status, QListWidget* list)
        : dialog_(dialog), status_(status), list_(list) {}
    void status(const std::string& text) override {
        QMetaObject::invokeMethod(
            status_, [s = status_, t = toScreen(text)] { s->setText(t); }, Qt::QueuedConnection);
    }
    void listed(const std::string& address) override {
        QMetaObject::invokeMethod(
            list_, [l = list_, a = toScreen(address)] { l->addItem(a); }, Qt::QueuedConnection);
    }
    void notice(const std::string& text) override {
        QMetaObject::invokeMethod(
            dialog_, [d = dialog_, t = text] { inform(d, t); }, Qt::QueuedConnection);
    }

  private:
    RetrievalDialog* dialog_;
    QLabel* status_;
    QListWidget* list_;
};

}  // namespace

RetrievalDialog::RetrievalDialog(SettingsStore& store, Paths paths, RetrievalMode mode,
                                 QWidget* parent)
    : QDialog(parent), store_(store), paths_(std::move(paths)), mode_(mode) {
    const bool subscribe = mode == RetrievalMode::Subscribe;
    setWindowTitle(subscribe ? "Retrieve Subscribe Users" : "Retrieve Unsubscribe Users");
    user_ = new QLineEdit;
    password_ = new QLineEdit;
    password_->setEchoMode(QLineEdit::Password);
    server_ = new QLineEdit;
    for (QLineEdit* e : {user_, password_, server_}) e->setMaxLength(kFieldLength);
    port_ = new QSpinBox;
    port_->setRange(1, 65535);
    security_ = new QComboBox;
    security_->addItem("None", static_cast<int>(Pop3Security::None));
    security_->addItem("STLS", static_cast<int>(Pop3Security::StartTls));
    security_->addItem("POP3S (TLS)", static_cast<int>(Pop3Security::Tls));
    verify_ = new QCheckBox("Verify certificate");
    output_ = new QLineEdit;
    output_->setReadOnly(true);
    auto* browse = new QPushButton("...");
    groups_ = new QLineEdit;
    groups_->setReadOnly(true);
    addGroups_ = new QPushButton("Add");
    remember_ = new QCheckBox("Remember my POP3 settings");
    autoUnsubscribe_ = new QCheckBox("AutoUnsubcribe recipients");
    list_ = new QListWidget;
    status_ = new QLabel;
    retrieve_ = new QPushButton("&Retrieve");
    stop_ = new QPushButton("&Stop");
    test_ = new QPushButton("Test Connection");
    change_ = new QPushButton("&Change Password");
    close_ = new QPushButton("&Close");
    stop_->setEnabled(false);

    auto* form = new QFormLayout;
    if (subscribe) {
        auto* groupRow = new QHBoxLayout;
        groupRow->addWidget(groups_, 1);
        groupRow->addWidget(addGroups_);
        form->addRow(boldLabel("Groups"), groupRow);
    }
    form->addRow(boldLabel(subscribe ? "Subscribe Email" : "Unsubscribe Email"), user_);
    form->addRow(boldLabel("Password"), password_);
    form->addRow(boldLabel("Server"), server_);
    auto* connRow = new QHBoxLayout;
    connRow->addWidget(new QLabel("Port"));
    connRow->addWidget(port_);
    connRow->addWidget(new QLabel("Security"));
    connRow->addWidget(security_);
    connRow->addWidget(verify_);
    connRow->addStretch();
    form->addRow(QString(), connRow);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(output_, 1);
    fileRow->addWidget(browse);
    form->addRow(boldLabel("Save File As"), fileRow);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(remember_);
    boxes->addWidget(autoUnsubscribe_);
    boxes->addStretch();
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {retrieve_, stop_, test_, change_, close_}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(boxes);
    layout->addWidget(list_, 1);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    autoUnsubscribe_->setVisible(!subscribe);
    resize(560, 460);

    // Opening: the remembered account, locked while remembered; AutoUnsubscribe as stored.
    MailboxSettings s = readMailboxSettings(store_);
    port_->setValue(s.port);
    security_->setCurrentIndex(security_->findData(static_cast<int>(s.security)));
    verify_->setChecked(s.verifyCert);
    if (s.remember) {
        user_->setText(toScreen(s.user));
        password_->setText(toScreen(s.password));
        server_->setText(toScreen(s.server));
        remember_->setChecked(true);
        for (QLineEdit* e : {user_, password_, server_}) e->setReadOnly(true);
    }
    autoUnsubscribe_->setChecked(store_.readFlag(keys::kAutoUnsubscribe));

    connect(remember_, &QCheckBox::toggled, this, &RetrievalDialog::rememberToggled);
    connect(autoUnsubscribe_, &QCheckBox::clicked, this, &RetrievalDialog::autoUnsubscribeToggled);
    connect(browse, &QPushButton::clicked, this, &RetrievalDialog::browse);
    connect(addGroups_, &QPushButton::clicked, this, &RetrievalDialog::chooseGroups);
    connect(retrieve_, &QPushButton::clicked, this, [this] { startRetrieval(); });
    connect(stop_, &QPushButton::clicked, this, &RetrievalDialog::stopRun);
    connect(test_, &QPushButton::clicked, this, &RetrievalDialog::testConnection);
    connect(change_, &QPushButton::clicked, this, &RetrievalDialog::changePassword);
    connect(close_, &QPushButton::clicked, this, &RetrievalDialog::reject);
    connect(security_, &QComboBox::currentIndexChanged, this, [this] {
        // The usual port of the chosen security, unless the user typed another.
        const bool tls = security_->currentData().toInt() == static_cast<int>(Pop3Security::Tls);
        if (port_->value() == Pop3Client::kDefaultPort ||
            port_->value() == Pop3Client::kDefaultTlsPort)
            port_->setValue(tls ? Pop3Client::kDefaultTlsPort : Pop3Client::kDefaultPort);
    });
}

RetrievalDialog::~RetrievalDialog() {
    stopRun();
    if (worker_.joinable()) worker_.join();
    if (tester_.joinable()) tester_.join();
}

bool RetrievalDialog::autoUnsubscribe() const {
    return autoUnsubscribe_->isChecked();
}

MailboxSettings RetrievalDialog::typedSettings() const {
    MailboxSettings s;
    s.user = std::string(trimWhite(fromScreen(user_->text())));
    s.password = std::string(trimWhite(fromScreen(password_->text())));
    s.server = std::string(trimWhite(fromScreen(server_->text())));
    s.port = port_->value();
    s.security = static_cast<Pop3Security>(security_->currentData().toInt());
    s.verifyCert = verify_->isChecked();
    s.remember = remember_->isChecked();
    return s;
}

void RetrievalDialog::rememberToggled(bool on) {
    std::string error;
    if (!saveMailboxSettings(store_, typedSettings(), &error)) inform(this, error);
    for (QLineEdit* e : {user_, password_, server_}) e->setReadOnly(on);
}

void RetrievalDialog::autoUnsubscribeToggled(bool on) {
    if (!on && !ask(this,
                    "Turning off this option won't allow you to unsubscribe the users while "
                    "sending the mails. Would you like to continue?")) {
        autoUnsubscribe_->setChecked(true);
        return;
    }
    store_.writeFlag(keys::kAutoUnsubscribe, on);
}

void RetrievalDialog::testConnection() {
    MailboxSettings s = typedSettings();
    if (s.server.empty()) {
        inform(this, QString("Please Enter server credentials"));
        return;
    }
    if (run_ || testClient_) return;
    auto client = std::make_shared<Pop3Client>(s.server, s.port, s.user, s.password);
    client->setSecurity({s.security, s.verifyCert, {}});
    testClient_ = client;
    setRunning(true);
    status_->setText(QString("Testing the connection to %1 ...").arg(toScreen(s.server)));
    if (tester_.joinable()) tester_.join();
    tester_ = std::thread([this, client] {
        const bool ok = client->connect();
        if (ok) client->disconnect();
        // Stopped: the user asked for no answer.
        const bool stopped = !ok && client->failure() == Pop3Failure::Interrupted;
        const std::string error = ok ? std::string() : client->lastError();
        QMetaObject::invokeMethod(
            this, [this, ok, stopped, error] { testEnded(ok, stopped, error); },
            Qt::QueuedConnection);
    });
}

void RetrievalDialog::testEnded(bool ok, bool stopped, const std::string& error) {
    if (tester_.joinable()) tester_.join();
    testClient_.reset();
    setRunning(false);
    status_->clear();
    if (stopped) return;
    if (ok)
        inform(this, QString("Connection successful"));
    else
        inform(this, error);
}

void RetrievalDialog::changePassword() {
    ChangePasswordDialog dialog(store_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    user_->setText(dialog.userField()->text().trimmed());
    password_->setText(dialog.newPasswordField()->text().trimmed());
}

void RetrievalDialog::browse() {
    QString name =
        QFileDialog::getSaveFileName(this, "Save Text File", QString(), "Text Files(*.txt)");
    if (name.isEmpty()) return;
    if (!name.endsWith(".txt")) name += ".txt";
    output_->setText(name);
}

void RetrievalDialog::chooseGroups() {
    SelectGroupsDialog dialog(paths_, groups_->text(), this);
    if (dialog.exec() == QDialog::Accepted) groups_->setText(dialog.selection());
}

void RetrievalDialog::setRunning(bool running) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             user_, password_, server_, port_, security_, verify_, groups_, addGroups_, remember_,
             autoUnsubscribe_, retrieve_, test_, change_, close_})
        w->setEnabled(!running);
    stop_->setEnabled(running);
}

bool RetrievalDialog::startRetrieval() {
    if (run_) return false;
    MailboxSettings s = typedSettings();
    const std::string output(trimWhite(fromScreen(output_->text())));
    RetrievalInputCheck check = checkRetrievalInput(s.user, s.password, s.server, output);
    if (!check.ok()) {
        inform(this, check.message);
        QLineEdit* focus = check.status == RetrievalInputStatus::UserEmpty       ? user_
                           : check.status == RetrievalInputStatus::PasswordEmpty ? password_
                           : check.status == RetrievalInputStatus::ServerEmpty   ? server_
                                                                                 : output_;
        focus->setFocus();
        return false;
    }
    if (mode_ == RetrievalMode::Subscribe && groups_->text().trimmed().isEmpty()) {
        inform(this, QString("Please select group(s)."));
        return false;
    }
    std::string error;
    if (!saveMailboxSettings(store_, s, &error)) inform(this, error);

    RetrievalRequest req;
    req.server = s.server;
    req.port = s.port;
    req.security = {s.security, s.verifyCert, {}};
    req.user = s.user;
    req.password = s.password;
    req.outputFile = output;
    req.mode = mode_;
    req.groups = splitGroupSelection(fromScreen(groups_->text()));
    if (worker_.joinable()) worker_.join();
    run_ = std::make_unique<RetrievalRun>(paths_, std::move(req), harvested_);
    setRunning(true);
    worker_ = std::thread([this, run = run_.get()] {
        Forwarder forward(this, status_, list_);
        RetrievalResult result = run->run(forward);
        QMetaObject::invokeMethod(
            this, [this, result] { runEnded(result); }, Qt::QueuedConnection);
    });
    return true;
}

void RetrievalDialog::runEnded(RetrievalResult result) {
    if (worker_.joinable()) worker_.join();
    run_.reset();
    setRunning(false);
    status_->clear();
    if (result.outcome != RetrievalOutcome::Stopped && !result.message.empty())
        inform(this, result.message);
}

void RetrievalDialog::stopRun() {
    if (run_) run_->stop();
    if (testClient_) testClient_->interrupt();
}

void RetrievalDialog::waitForRun() {
    if (worker_.joinable()) worker_.join();
    QCoreApplication::processEvents();
}

void RetrievalDialog::closeEvent(QCloseEvent* event) {
    if (run_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void RetrievalDialog::reject() {
    if (run_) return;  // Stop first: the run writes files
    stopRun();         // a connection test only waits on the server: it ends with the screen
    QDialog::reject();
}

}  // namespace qm::ui
