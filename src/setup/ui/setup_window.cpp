#include "setup/ui/setup_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QVBoxLayout>
#include <memory>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "config/settings.h"
#include "delivery/sender_profile.h"

namespace qm::ui {

namespace {

const char* kUnvisited = "#0000ee";
const char* kVisited = "#551a8b";

QString linkHtml(const QString& text, const char* colour) {
    return QString("<a href=\"#\" style=\"color:%1; text-decoration:underline\">%2</a>")
        .arg(colour, text.toHtmlEscaped());
}

}  // namespace

QUrl SetupWindow::helpUrl(const QString& section) {
    // Installed beside the program's share/ folder; in a build tree, the source checkout's copy.
    QString installed =
        QDir(QCoreApplication::applicationDirPath()).filePath("../share/doc/quillmark/README.md");
    QString readme = QFileInfo::exists(installed) ? QFileInfo(installed).canonicalFilePath()
                                                  : QString(QM_SOURCE_README);
    QUrl url = QUrl::fromLocalFile(readme);
    url.setFragment(section);
    return url;
}

QLabel* SetupWindow::linkLabel(const QString& text, const QString& section) {
    auto* label = new QLabel(linkHtml(text, kUnvisited));
    label->setTextFormat(Qt::RichText);
    label->setCursor(Qt::PointingHandCursor);
    label->setToolTip(helpUrl(section).toString());
    connect(label, &QLabel::linkActivated, this, [this, label, text, section] {
        label->setText(linkHtml(text, kVisited));
        openLink(helpUrl(section));
    });
    return label;
}

SetupWindow::SetupWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Welcome to Quillmark");
    // The installed theme icon; in a build tree the checkout's drawing.
    setWindowIcon(QIcon::fromTheme("quillmark", QIcon(QM_SOURCE_ICON)));
    setMinimumWidth(460);
    openLink = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    startProgram = [](const QString& program) { return QProcess::startDetached(program, {}); };

    auto* layout = new QVBoxLayout(this);
    // Linux window managers offer no system menu to extend, so About lives in a menu bar.
    auto* menus = new QMenuBar(this);
    menus->addMenu("&Help")->addAction("&About Quillsetup...", this, &SetupWindow::showAbout);
    layout->setMenuBar(menus);

    layout->addWidget(new QLabel(
        "Thankyou for installing Quillmark\n\nPlease proceed with the following configuration "
        "steps"));
    auto* firewall = new QLabel(
        "1. Check your Anti - Virus and firewall settings to ensure that             Quillmark "
        "can connect to the Internet.");
    firewall->setWordWrap(true);
    layout->addWidget(firewall);
    layout->addWidget(new QLabel("2. Select E-Mail Delivery Mechanism."));

    smtp_ = new QRadioButton("SMTP :  (IP, Port)");
    mx_ = new QRadioButton("MX ");
    auto* mechanism = new QButtonGroup(this);
    mechanism->addButton(smtp_);
    mechanism->addButton(mx_);
    server_ = new QLineEdit;
    server_->setMaxLength(static_cast<int>(kMaxServerLength));
    server_->setAccessibleName("SMTP server");
    port_ = new QLineEdit(QString::number(kDefaultSmtpPort));
    port_->setValidator(new QIntValidator(0, 65535, port_));
    port_->setMaxLength(5);
    port_->setMaximumWidth(70);
    port_->setAccessibleName("Port");
    auto* smtpRow = new QHBoxLayout;
    smtpRow->addWidget(smtp_);
    smtpRow->addWidget(server_, 1);
    smtpRow->addWidget(port_);
    layout->addLayout(smtpRow);

    security_ = new QComboBox;
    security_->addItems({"None", "STARTTLS", "SSL/TLS"});
    security_->setToolTip("How the connection to the server is encrypted");
    securityLabel_ = new QLabel("Connection security:");
    securityLabel_->setBuddy(security_);
    auto* securityRow = new QHBoxLayout;
    securityRow->addSpacing(24);
    securityRow->addWidget(securityLabel_);
    securityRow->addWidget(security_);
    securityRow->addStretch();
    layout->addLayout(securityRow);

    auto* mxRow = new QHBoxLayout;
    mxRow->addWidget(mx_);
    mxRow->addWidget(linkLabel("(Not Recommended)", "smtp-servers"));
    mxRow->addStretch();
    mxRow->addWidget(linkLabel("(?)", "relay-or-mx"));
    layout->addLayout(mxRow);

    authBox_ = new QGroupBox("SMTP Server Authentication Information");
    authYes_ = new QRadioButton("Authentication Required");
    authNo_ = new QRadioButton("No, Authentication not required");
    auto* auth = new QButtonGroup(this);
    auth->addButton(authYes_);
    auth->addButton(authNo_);
    user_ = new QLineEdit;
    user_->setMaxLength(99);
    password_ = new QLineEdit;
    password_->setMaxLength(99);
    password_->setEchoMode(QLineEdit::Password);
    userLabel_ = new QLabel("Username:");
    userLabel_->setBuddy(user_);
    passwordLabel_ = new QLabel("Password:");
    passwordLabel_->setBuddy(password_);
    login_ = new QComboBox;
    login_->addItems({"Password", "OAuth 2 token command"});  // the order of RelayLogin
    login_->setToolTip("Providers that retired passwords for SMTP want an OAuth 2 access token");
    loginLabel_ = new QLabel("Log in with:");
    loginLabel_->setBuddy(login_);
    tokenCommand_ = new QLineEdit;
    tokenCommand_->setMaxLength(1000);
    tokenCommand_->setPlaceholderText("program and arguments that print the token");
    tokenCommand_->setToolTip(
        "Run without a shell; \"...\" keeps blanks inside an argument. It must print a fresh "
        "access token within 30 seconds.");
    tokenLabel_ = new QLabel("Token command:");
    tokenLabel_->setBuddy(tokenCommand_);
    auto* authLayout = new QFormLayout(authBox_);
    authLayout->addRow(authYes_);
    authLayout->addRow(authNo_);
    authLayout->addRow(userLabel_, user_);
    authLayout->addRow(loginLabel_, login_);
    authLayout->addRow(passwordLabel_, password_);
    authLayout->addRow(tokenLabel_, tokenCommand_);
    layout->addWidget(authBox_);

    bulkProfile_ = new QCheckBox("Follow current bulk-sender rules");
    bulkProfile_->setToolTip(
        "Readable text part, List-Id, MX by preference and a lower-case footer, as the large "
        "mailbox providers expect of bulk mail. Each can be changed later on the SMTP Settings "
        "tab, where the sender domain's records can be checked too.");
    bulkProfile_->setChecked(loadProfileState(SettingsStore::open()).profile ==
                             SenderProfile::Current);
    layout->addWidget(bulkProfile_);

    test_ = new QPushButton("Test connection");
    test_->setAutoDefault(false);
    testResult_ = new QLabel;
    testResult_->setWordWrap(true);
    testResult_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(test_);
    testRow->addWidget(testResult_, 1);
    layout->addLayout(testRow);

    launch_ = new QPushButton("Launch Quillmark");
    launch_->setDefault(true);
    auto* launchRow = new QHBoxLayout;
    launchRow->addStretch();
    launchRow->addWidget(launch_);
    layout->addLayout(launchRow);

    smtp_->setChecked(true);
    authYes_->setChecked(true);
    updateStates();
    connect(smtp_, &QRadioButton::toggled, this, &SetupWindow::updateStates);
    connect(authYes_, &QRadioButton::toggled, this, &SetupWindow::updateStates);
    connect(login_, &QComboBox::currentIndexChanged, this, &SetupWindow::updateStates);
    connect(security_, &QComboBox::currentIndexChanged, this, &SetupWindow::securityChosen);
    connect(test_, &QPushButton::clicked, this, &SetupWindow::testConnection);
    connect(launch_, &QPushButton::clicked, this, &SetupWindow::launch);
    server_->setFocus();
}

SetupChoice SetupWindow::choice() const {
    SetupChoice c;
    c.mx = mx_->isChecked();
    c.server = fromScreen(server_->text());
    c.port = parsePort(fromScreen(port_->text()));
    c.security = static_cast<ConnectionSecurity>(security_->currentIndex());
    c.authenticate = authYes_->isChecked();
    c.userName = fromScreen(user_->text());
    c.password = fromScreen(password_->text());
    c.bulkProfile = bulkProfile_->isChecked();
    c.login = static_cast<RelayLogin>(login_->currentIndex());
    c.tokenCommand = fromScreen(tokenCommand_->text().trimmed());
    return c;
}

void SetupWindow::updateStates() {
    SetupFieldStates s = setupFieldStates(choice());
    for (QWidget* w : {static_cast<QWidget*>(server_), static_cast<QWidget*>(port_),
                       static_cast<QWidget*>(securityLabel_), static_cast<QWidget*>(security_),
                       static_cast<QWidget*>(authBox_)})
        w->setEnabled(s.relay);
    test_->setEnabled(s.relay && !testing_);
    for (QWidget* w : {static_cast<QWidget*>(userLabel_), static_cast<QWidget*>(user_),
                       static_cast<QWidget*>(loginLabel_), static_cast<QWidget*>(login_)})
        w->setEnabled(s.credentials);
    passwordLabel_->setEnabled(s.password);
    password_->setEnabled(s.password);
    tokenLabel_->setEnabled(s.tokenCommand);
    tokenCommand_->setEnabled(s.tokenCommand);
}

void SetupWindow::securityChosen() {
    auto chosen = static_cast<ConnectionSecurity>(security_->currentIndex());
    unsigned port = portForSecurity(parsePort(fromScreen(port_->text())), shownSecurity_, chosen);
    port_->setText(QString::number(port));
    shownSecurity_ = chosen;
}

void SetupWindow::focusField(SetupField field) {
    switch (field) {
        case SetupField::UserName:
            user_->setFocus();
            break;
        case SetupField::Password:
            password_->setFocus();
            break;
        case SetupField::Server:
            server_->setFocus();
            break;
        case SetupField::TokenCommand:
            tokenCommand_->setFocus();
            break;
        case SetupField::None:
            break;
    }
}

void SetupWindow::testConnection() {
    SetupChoice c = choice();
    if (c.mx || testing_) return;
    if (SetupField missing = missingForTest(c); missing != SetupField::None) {
        warn(this, toScreen(kInvalidDataTitle), toScreen(setupMessage(missing)));
        focusField(missing);
        return;
    }
    testing_ = true;
    updateStates();
    testResult_->setText(QString("Testing %1:%2 ...").arg(server_->text()).arg(c.port));
    auto result = std::make_shared<SmtpCheckResult>();
    SmtpCheck check = smtpCheckFor(c);
    QThread* thread = QThread::create([check, result] { *result = checkSmtpConnection(check); });
    QPointer<SetupWindow> self(this);
    connect(thread, &QThread::finished, thread, [self, result, thread, c] {
        thread->deleteLater();
        if (!self) return;
        self->testing_ = false;
        self->updateStates();
        if (result->ok) {
            QString how = c.authenticate ? "greeted and logged in" : "greeted";
            if (result->tls) how += " over TLS";
            self->testResult_->setText("Connection works: the server " + how + ".");
        } else {
            self->testResult_->setText("Test failed: " + toScreen(result->error));
        }
        emit self->connectionTested(result->ok);
    });
    thread->start();
}

void SetupWindow::launch() {
    SettingsStore store = SettingsStore::open();
    SetupSave save = saveSetupChoice(store, choice());
    if (save.missing != SetupField::None) {
        warn(this, toScreen(kInvalidDataTitle), toScreen(setupMessage(save.missing)));
        focusField(save.missing);
        return;
    }
    if (!save.writeError.empty()) {
        inform(this, "The settings could not be saved: " + toScreen(save.writeError));
        return;
    }
    std::string program = findQuillmark(fromScreen(QCoreApplication::applicationDirPath()),
                                        qgetenv("PATH").toStdString());
    if (program.empty())
        inform(this, QString("The settings are saved, but Quillmark was found neither beside "
                             "Quillsetup nor on PATH. Start it from the applications menu."));
    else if (!startProgram(toScreen(program)))
        inform(this, "The settings are saved, but " + toScreen(program) + " did not start.");
    accept();
}

std::unique_ptr<QMessageBox> SetupWindow::aboutBox() {
    auto box = std::make_unique<QMessageBox>(this);
    box->setWindowTitle("About Quillsetup");
    // Without an SVG image plugin the drawing does not load; the standard icon stands in.
    QPixmap icon = windowIcon().pixmap(48, 48);
    if (icon.isNull())
        box->setIcon(QMessageBox::Information);
    else
        box->setIconPixmap(icon);
    box->setText("Quillsetup Version 1.0");
    return box;
}

void SetupWindow::showAbout() {
    aboutBox()->exec();
}

}  // namespace qm::ui
