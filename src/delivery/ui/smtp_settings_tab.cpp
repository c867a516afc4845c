#include "delivery/ui/smtp_settings_tab.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "delivery/ui/sender_auth_box.h"

namespace qm::ui {

namespace {

// Wide enough that a typed 20 reaches the range check instead of being refused keystroke by
// keystroke; the check then replaces it.
QSpinBox* countBox(int value) {
    auto* box = new QSpinBox;
    box->setRange(-999, 999);
    box->setValue(value);
    box->setFixedWidth(60);
    return box;
}

// The repetition list: its placeholder line shows only while the list is closed and nothing was
// chosen. The choice arrives after hidePopup(), so the check for it waits one event-loop turn.
class RepetitionBox : public QComboBox {
  public:
    RepetitionBox() {
        addPlaceholder();
        for (int i = 0; i < 4; ++i) addItem(kChoices[i], i);
        setCurrentIndex(0);
        connect(this, &QComboBox::activated, this, [this] { chosen_ = true; });
    }
    void showPopup() override {
        chosen_ = false;
        if (hasPlaceholder()) removeItem(0);
        QComboBox::showPopup();
    }
    void hidePopup() override {
        QComboBox::hidePopup();
        QTimer::singleShot(0, this, [this] {
            if (chosen_ || hasPlaceholder()) return;
            addPlaceholder();
            setCurrentIndex(0);
        });
    }

  private:
    static constexpr const char* kChoices[] = {"None", "Daily", "Weekly", "Monthly"};
    bool hasPlaceholder() const { return count() > 4; }
    void addPlaceholder() { insertItem(0, "Repetition", 0); }
    bool chosen_ = false;
};

}  // namespace

SmtpSettingsTab::SmtpSettingsTab(QWidget* parent) : QWidget(parent) {
    auto* modeBox = new QGroupBox("Delivery");
    mx_ = new QRadioButton("Use MX Mode (Not Recommended)");
    smtp_ = new QRadioButton("Use SMTP Server (IP, Port)");
    auto* modeGroup = new QButtonGroup(this);
    modeGroup->addButton(mx_);
    modeGroup->addButton(smtp_);
    auto* modeLayout = new QVBoxLayout(modeBox);
    // The order shares the MX button's row: the window has no height to spare at 800x580.
    mxOrder_ = new QComboBox;
    mxOrder_->addItems({"As answered", "By preference"});
    mxOrder_->setToolTip(
        "As answered: the first exchanger the DNS server names.\nBy preference: every exchanger, "
        "lowest preference first, the next one when a connection fails.");
    auto* mxRow = new QHBoxLayout;
    mxRow->addWidget(mx_);
    mxRow->addStretch();
    auto* orderLabel = new QLabel("Order:");
    orderLabel->setBuddy(mxOrder_);
    mxRow->addWidget(orderLabel);
    mxRow->addWidget(mxOrder_);
    modeLayout->addLayout(mxRow);
    modeLayout->addWidget(smtp_);

    auto* serverBox = new QWidget;
    serverBox_ = serverBox;
    server_ = new QLineEdit;
    server_->setMaxLength(static_cast<int>(kMaxServerLength));
    server_->setToolTip("Host name or address of the outgoing mail server");
    port_ = new QLineEdit;
    port_->setValidator(new QIntValidator(0, 65535, port_));
    port_->setMaxLength(5);
    port_->setMaximumWidth(80);
    security_ = new QComboBox;
    security_->addItems({"None", "STARTTLS", "SSL/TLS"});
    security_->setToolTip("How the connection to the server is encrypted");
    verify_ = new QCheckBox("Verify certificate");
    verify_->setToolTip("Refuse a server whose certificate does not match its name");
    auto* serverForm = new QFormLayout(serverBox);
    serverForm->setContentsMargins(20, 0, 0, 0);
    // Host and port share a row, as they are usually read together; the row it saves lets the
    // window fit 800x580.
    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(server_, 1);
    auto* portLabel = new QLabel("Port:");
    portLabel->setBuddy(port_);
    hostRow->addWidget(portLabel);
    hostRow->addWidget(port_);
    serverForm->addRow("Server:", hostRow);
    auto* securityRow = new QHBoxLayout;
    securityRow->addWidget(security_);
    securityRow->addWidget(verify_);
    securityRow->addStretch();
    serverForm->addRow("Connection security:", securityRow);
    modeLayout->addWidget(serverBox);

    auto* authBox = new QGroupBox("Authentication");
    authBox_ = authBox;
    authYes_ = new QRadioButton("Authentication Required");
    authNo_ = new QRadioButton("No, Authentication not Required");
    auto* authGroup = new QButtonGroup(this);
    authGroup->addButton(authYes_);
    authGroup->addButton(authNo_);
    user_ = new QLineEdit;
    user_->setMaxLength(99);
    password_ = new QLineEdit;
    password_->setMaxLength(99);
    password_->setEchoMode(QLineEdit::Password);
    login_ = new QComboBox;
    login_->addItems({"Password", "OAuth 2 token command"});  // the order of RelayLogin
    login_->setToolTip("Providers that retired passwords for SMTP want an OAuth 2 access token");
    // As wide as a label: the longer choice, shown whole, widened the window.
    login_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    login_->setMinimumContentsLength(10);
    tokenCommand_ = new QLineEdit;
    tokenCommand_->setMaxLength(1000);
    tokenCommand_->setPlaceholderText("program and arguments that print the token");
    tokenCommand_->setToolTip(
        "Run without a shell when a run starts; \"...\" keeps blanks inside an argument. It "
        "must print a fresh access token within 30 seconds.");
    auto* authLayout = new QFormLayout(authBox);
    authLayout->addRow(authYes_);
    authLayout->addRow(authNo_);
    authLayout->addRow("User Name:", user_);
    // Password and token command take turns in one row, named by the login choice itself:
    // beside "Authentication Required" the choice widened the window past 800 pixels, and the
    // tab has no row to spare.
    auto* secretRow = new QHBoxLayout;
    secretRow->setContentsMargins(0, 0, 0, 0);
    secretRow->addWidget(password_);
    secretRow->addWidget(tokenCommand_);
    authLayout->addRow(login_, secretRow);

    auto* runBox = new QGroupBox("Sending");
    threads_ = countBox(1);
    wait_ = countBox(1);
    auto* runLayout = new QFormLayout(runBox);
    // Beside the thread count, not below it: the tab must fit the 800 x 580 window.
    perConnection_ = new QSpinBox;
    perConnection_->setRange(kMinPerConnection, kMaxPerConnection);
    perConnection_->setFixedWidth(60);
    perConnection_->setToolTip(
        "Messages per connection: 1 opens a new connection for every recipient; more keep one "
        "session per thread");
    textPart_ = new QComboBox;
    textPart_->addItems({"HTML source", "Readable text"});
    textPart_->setToolTip(
        "Plain-text part of HTML mail, for readers without HTML: its source, or the page as text");
    auto* threadsRow = new QHBoxLayout;
    threadsRow->addWidget(threads_);
    threadsRow->addWidget(new QLabel("Per connection:"));
    threadsRow->addWidget(perConnection_);
    threadsRow->addStretch();
    runLayout->addRow("No. of Threads:", threadsRow);
    // The text-part choice shares the wait row: a row of its own would push the window past
    // 800x580.
    auto* waitRow = new QHBoxLayout;
    waitRow->addWidget(wait_);
    waitRow->addWidget(new QLabel("(Sec.)"));
    waitRow->addStretch();
    auto* textPartLabel = new QLabel("Plain-text part:");
    textPartLabel->setBuddy(textPart_);
    waitRow->addWidget(textPartLabel);
    waitRow->addWidget(textPart_);
    runLayout->addRow("Wait for each Thread:", waitRow);
    // "At most N messages per minute/hour", all threads together; 0 is no limit.
    rateCount_ = new QSpinBox;
    rateCount_->setRange(0, static_cast<int>(kMaxSendRate));
    rateCount_->setSpecialValueText("No limit");
    rateUnit_ = new QComboBox;
    rateUnit_->addItems({"per minute", "per hour"});  // the order of RateUnit
    auto* rateRow = new QHBoxLayout;
    rateRow->addWidget(rateCount_);
    rateRow->addWidget(rateUnit_);
    rateRow->addStretch();
    runLayout->addRow("At most (messages):", rateRow);
    // Tight rows, as in "Launch": the "Scheduled Mails" grid below needs the height at 800x580.
    runLayout->setVerticalSpacing(2);
    runLayout->setContentsMargins(9, 2, 9, 2);
    for (QHBoxLayout* row : {threadsRow, waitRow, rateRow}) row->setSpacing(6);

    auto* launchBox = new QGroupBox("Launch");
    startNow_ = new QRadioButton("Start immediately");
    startAt_ = new QRadioButton("Start At");
    auto* launchGroup = new QButtonGroup(this);
    launchGroup->addButton(startNow_);
    launchGroup->addButton(startAt_);
    startNow_->setChecked(true);
    const QDateTime opened = QDateTime::currentDateTime();
    date_ = new QDateEdit(opened.date());
    date_->setCalendarPopup(true);
    date_->setDisplayFormat("dd/MM/yyyy");
    // From now to the same day and time a month on (December reaches into January).
    date_->setDateRange(opened.date(), opened.date().addMonths(1));
    time_ = new QTimeEdit(opened.time());
    time_->setDisplayFormat("HH:mm:ss");
    repetition_ = new RepetitionBox;
    auto* launchLayout = new QGridLayout(launchBox);
    launchLayout->addWidget(startNow_, 0, 0, 1, 2);
    launchLayout->addWidget(startAt_, 0, 2, 1, 2);
    launchLayout->addWidget(new QLabel("Date:"), 1, 0);
    launchLayout->addWidget(date_, 1, 1);
    launchLayout->addWidget(new QLabel("Time:"), 1, 2);
    launchLayout->addWidget(time_, 1, 3);
    launchLayout->addWidget(repetition_, 2, 1);
    help_ = new QPushButton("Help for Settings");
    connect(help_, &QPushButton::clicked, this, &SmtpSettingsTab::helpRequested);
    launchLayout->addWidget(help_, 2, 2, 1, 2, Qt::AlignLeft);
    // Tight rows: the "Scheduled Mails" grid below needs the height at 800x580.
    launchLayout->setVerticalSpacing(2);
    launchLayout->setContentsMargins(9, 2, 9, 2);
    launchLayout->setColumnStretch(5, 1);

    auto* grid = new QGridLayout(this);
    grid_ = grid;
    grid->addWidget(modeBox, 0, 0);
    // The relay's login and the sender's DKIM signing share one place: a third column would make
    // the tab wider than the 800 x 580 window.
    senderAuth_ = new SenderAuthBox;
    accounts_ = new QTabWidget;
    accounts_->setDocumentMode(true);
    // The tab names the box: no second title inside it.
    for (QGroupBox* box : {authBox, static_cast<QGroupBox*>(senderAuth_)}) {
        box->setTitle({});
        box->setFlat(true);
        box->layout()->setContentsMargins(6, 4, 6, 0);
    }
    accounts_->addTab(authBox, "Relay Login");
    accounts_->addTab(senderAuth_, "Sender Authentication");
    auto* profileBox = new QWidget;
    profile_ = new QCheckBox("Follow current bulk-sender rules");
    profile_->setToolTip(
        "Readable text part, List-Id, MX by preference and a lower-case footer, as the large "
        "mailbox providers expect of bulk mail; one-click unsubscribing follows from an https "
        "unsubscribe URL. Each option can still be changed on its own.");
    listId_ = new QCheckBox("List-Id on group runs");
    listId_->setToolTip("Names the group each copy was sent to, so filters can tell lists apart");
    footerLower_ = new QCheckBox("Lower-case footer markup");
    footerLower_->setToolTip("The unsubscribe footer's tags in lower case; same text, same look");
    profileNote_ = new QLabel;
    profileNote_->setWordWrap(true);
    checkDomain_ = new QPushButton("Check Sender Domain");
    checkDomain_->setToolTip("Look up the SPF, DMARC and DKIM records receivers will check");
    connect(checkDomain_, &QPushButton::clicked, this, &SmtpSettingsTab::checkDomainRequested);
    auto* profileLayout = new QVBoxLayout(profileBox);
    profileLayout->setContentsMargins(6, 4, 6, 0);
    profileLayout->setSpacing(2);
    profileLayout->addWidget(profile_);
    // One under the other: side by side they widened the window past 800 pixels.
    profileLayout->addWidget(listId_);
    profileLayout->addWidget(footerLower_);
    profileLayout->addWidget(profileNote_);
    profileLayout->addWidget(checkDomain_, 0, Qt::AlignLeft);
    profileLayout->addStretch();
    accounts_->addTab(profileBox, "Bulk Sending");
    grid->addWidget(accounts_, 0, 1);
    grid->addWidget(runBox, 1, 0);
    grid->addWidget(launchBox, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);

    setTabOrder(mx_, mxOrder_);
    setTabOrder(mxOrder_, smtp_);
    setTabOrder(smtp_, server_);
    setTabOrder(server_, port_);
    setTabOrder(port_, security_);
    setTabOrder(security_, verify_);
    setTabOrder(verify_, authYes_);
    setTabOrder(authYes_, login_);
    setTabOrder(login_, authNo_);
    setTabOrder(authNo_, user_);
    setTabOrder(user_, password_);
    setTabOrder(password_, tokenCommand_);
    setTabOrder(tokenCommand_, threads_);
    setTabOrder(threads_, wait_);
    setTabOrder(wait_, perConnection_);
    setTabOrder(perConnection_, textPart_);
    setTabOrder(textPart_, rateCount_);
    setTabOrder(rateCount_, rateUnit_);
    setTabOrder(rateUnit_, startNow_);
    setTabOrder(startNow_, startAt_);
    setTabOrder(startAt_, date_);
    setTabOrder(date_, time_);
    setTabOrder(time_, repetition_);

    connect(profile_, &QCheckBox::toggled, this, &SmtpSettingsTab::profileToggled);
    for (QCheckBox* box : {listId_, footerLower_})
        connect(box, &QCheckBox::toggled, this, &SmtpSettingsTab::updateProfileNote);
    connect(textPart_, &QComboBox::currentIndexChanged, this, &SmtpSettingsTab::updateProfileNote);
    connect(mxOrder_, &QComboBox::currentIndexChanged, this, &SmtpSettingsTab::updateProfileNote);
    updateProfileNote();

    for (auto* button : {mx_, smtp_, authYes_, authNo_, startNow_, startAt_})
        connect(button, &QRadioButton::toggled, this, &SmtpSettingsTab::updateEnabled);
    connect(security_, &QComboBox::currentIndexChanged, this, &SmtpSettingsTab::securityChanged);
    connect(login_, &QComboBox::currentIndexChanged, this, &SmtpSettingsTab::updateEnabled);
    connect(port_, &QLineEdit::textEdited, this, &SmtpSettingsTab::checkCountsNow);
    connect(threads_, &QSpinBox::valueChanged, this, &SmtpSettingsTab::checkCountsNow);
    connect(wait_, &QSpinBox::valueChanged, this, &SmtpSettingsTab::checkCountsNow);

    load(DeliverySettings{});
}

TextPartStyle SmtpSettingsTab::textPart() const {
    return textPart_->currentIndex() == 1 ? TextPartStyle::Readable : TextPartStyle::HtmlSource;
}

void SmtpSettingsTab::setTextPart(TextPartStyle style) {
    textPart_->setCurrentIndex(style == TextPartStyle::Readable ? 1 : 0);
}

void SmtpSettingsTab::loadProfile(const ProfileState& state, bool listId, FooterMarkup markup) {
    profileState_ = state;
    {
        QSignalBlocker a(profile_), b(listId_), c(footerLower_);
        profile_->setChecked(state.profile == SenderProfile::Current);
        listId_->setChecked(listId);
        footerLower_->setChecked(markup == FooterMarkup::LowerCase);
    }
    updateProfileNote();
}

ProfileOptions SmtpSettingsTab::profileOptions() const {
    ProfileOptions o;
    o.textPart = textPart();
    o.listId = listId_->isChecked();
    o.mxOrder = static_cast<MxOrder>(mxOrder_->currentIndex());
    o.footerMarkup = footerLower_->isChecked() ? FooterMarkup::LowerCase : FooterMarkup::Classic;
    return o;
}

void SmtpSettingsTab::showProfileOptions(const ProfileOptions& o) {
    QSignalBlocker a(textPart_), b(listId_), c(mxOrder_), d(footerLower_);
    setTextPart(o.textPart);
    listId_->setChecked(o.listId);
    mxOrder_->setCurrentIndex(static_cast<int>(o.mxOrder));
    footerLower_->setChecked(o.footerMarkup == FooterMarkup::LowerCase);
}

void SmtpSettingsTab::profileToggled(bool on) {
    ProfileOptions options = profileOptions();
    switchProfile(on ? SenderProfile::Current : SenderProfile::AsSpecified, options, profileState_);
    showProfileOptions(options);
    updateProfileNote();
}

void SmtpSettingsTab::updateProfileNote() {
    const bool on = profileState_.profile == SenderProfile::Current;
    QString set;
    for (ProfileOption option : optionsSetByProfile(profileOptions(), profileState_)) {
        if (!set.isEmpty()) set += ", ";
        set += toScreen(std::string(profileOptionLabel(option)));
    }
    if (!on)
        profileNote_->setText("Each option is as you set it.");
    else if (set.isEmpty())
        profileNote_->setText("Set by the profile: none; each option holds your own choice.");
    else
        profileNote_->setText("Set by the profile: " + set + ".");
    checkDomain_->setVisible(on);
}

void SmtpSettingsTab::load(const DeliverySettings& s) {
    (s.mxMode ? mx_ : smtp_)->setChecked(true);
    server_->setText(toScreen(s.server));
    port_->setText(QString::number(s.port));
    shownSecurity_ = s.security;
    {
        QSignalBlocker block(security_);
        security_->setCurrentIndex(static_cast<int>(s.security));
    }
    verify_->setChecked(s.verifyCert);
    mxOrder_->setCurrentIndex(static_cast<int>(s.mxOrder));
    (s.authenticate ? authYes_ : authNo_)->setChecked(true);
    user_->setText(toScreen(s.userName));
    password_->setText(toScreen(s.password));
    login_->setCurrentIndex(static_cast<int>(s.login));
    tokenCommand_->setText(toScreen(s.tokenCommand));
    {
        QSignalBlocker a(threads_), b(wait_);
        threads_->setValue(s.threadCount);
        wait_->setValue(s.waitSeconds);
    }
    perConnection_->setValue(s.perConnection);
    rateCount_->setValue(static_cast<int>(s.rate.count));
    rateUnit_->setCurrentIndex(static_cast<int>(s.rate.unit));
    (s.startNow ? startNow_ : startAt_)->setChecked(true);
    updateEnabled();
}

DeliverySettings SmtpSettingsTab::settings() const {
    DeliverySettings s;
    s.mxMode = mx_->isChecked();
    s.server = fromScreen(server_->text().trimmed());
    s.port = parsePort(fromScreen(port_->text()));
    s.authenticate = authYes_->isChecked();
    s.userName = fromScreen(user_->text());
    s.password = fromScreen(password_->text());
    s.login = static_cast<RelayLogin>(login_->currentIndex());
    s.tokenCommand = fromScreen(tokenCommand_->text().trimmed());
    s.security = static_cast<ConnectionSecurity>(security_->currentIndex());
    s.verifyCert = verify_->isChecked();
    s.mxOrder = static_cast<MxOrder>(mxOrder_->currentIndex());
    s.threadCount = threads_->value();
    s.waitSeconds = wait_->value();
    s.perConnection = perConnection_->value();
    s.rate = {static_cast<unsigned>(rateCount_->value()),
              static_cast<RateUnit>(rateUnit_->currentIndex())};
    s.startNow = startNow_->isChecked();
    return s;
}

std::int64_t SmtpSettingsTab::launchMoment() const {
    return QDateTime(date_->date(), time_->time()).toSecsSinceEpoch();
}

int SmtpSettingsTab::repetitionChoice() const {
    return repetition_->currentData().toInt();
}

void SmtpSettingsTab::setScheduleView(QWidget* view) {
    // No box around it: its header names it, and the window must still fit 800x580 with the
    // header and one row at the least; it grows with the window.
    view->setAccessibleName("Scheduled Mails");
    view->setMinimumHeight(2 * (view->fontMetrics().height() + 6) + 4);
    grid_->setContentsMargins(4, 4, 4, 4);
    grid_->setVerticalSpacing(4);
    grid_->addWidget(view, 2, 0, 1, 2);
    grid_->setRowStretch(2, 1);
}

void SmtpSettingsTab::updateEnabled() {
    FieldStates f = fieldStates(settings());
    serverBox_->setEnabled(f.server);
    authBox_->setEnabled(f.server);
    user_->setEnabled(f.credentials);
    login_->setEnabled(f.credentials);
    const bool token = login_->currentIndex() == static_cast<int>(RelayLogin::OAuthCommand);
    password_->setVisible(!token);
    tokenCommand_->setVisible(token);
    password_->setEnabled(f.password);
    tokenCommand_->setEnabled(f.tokenCommand);
    verify_->setEnabled(f.verifyCert);
    date_->setEnabled(f.launchTime);
    time_->setEnabled(f.launchTime);
    repetition_->setEnabled(f.launchTime);
    mxOrder_->setEnabled(mx_->isChecked());
}

void SmtpSettingsTab::securityChanged() {
    auto chosen = static_cast<ConnectionSecurity>(security_->currentIndex());
    unsigned port = portForSecurity(parsePort(fromScreen(port_->text())), shownSecurity_, chosen);
    port_->setText(QString::number(port));
    shownSecurity_ = chosen;
    updateEnabled();
}

void SmtpSettingsTab::checkCountsNow() {
    // Setting the replacement value fires valueChanged again; one check per user change.
    if (checking_) return;
    checking_ = true;
    CountCheck check = checkCounts(threads_->value(), wait_->value());
    if (!check.message.empty()) {
        inform(this, check.message);
        threads_->setValue(check.threadCount);
        wait_->setValue(check.waitSeconds);
    }
    checking_ = false;
}

}  // namespace qm::ui
