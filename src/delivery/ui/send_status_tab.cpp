#include "delivery/ui/send_status_tab.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "common/ui/text.h"
#include "delivery/send_pace.h"
#include "delivery/ui/status_model.h"

namespace qm::ui {

SendStatusTab::SendStatusTab(QWidget* parent) : QWidget(parent) {
    model_ = new StatusModel(this);
    view_ = new QTableView;
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setAlternatingRowColors(true);
    view_->setWordWrap(false);
    // Fixed row heights and column widths: the view never measures 100,000 rows.
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    view_->verticalHeader()->hide();
    auto* header = view_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->resizeSection(0, 90);
    header->resizeSection(1, 260);
    header->resizeSection(2, 160);
    header->setStretchLastSection(true);

    progress_ = new QProgressBar;
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    viewLog_ = new QPushButton("View Log");
    viewLog_->setToolTip("Open the log of the SMTP conversations");
    connect(viewLog_, &QPushButton::clicked, this, &SendStatusTab::viewLogRequested);

    const QString painted =
        "font-family: Arial; font-size: 14px; background: rgb(188,199,213); color: black;"
        " padding: 2px 6px;";
    sentLabel_ = new QLabel;
    groupLabel_ = new QLabel;
    paceLabel_ = new QLabel;
    paceLabel_->setStyleSheet(painted);
    paceLabel_->hide();
    sentLabel_->setStyleSheet(painted);
    groupLabel_->setStyleSheet(painted);
    sentLabel_->hide();
    groupLabel_->hide();

    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(sentLabel_);
    statusRow->addWidget(groupLabel_);
    statusRow->addWidget(paceLabel_);
    statusRow->addStretch();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(progress_, 1);
    bottom->addWidget(viewLog_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(statusRow);
    layout->addLayout(bottom);

    painter_.setInterval(200);
    connect(&painter_, &QTimer::timeout, this, &SendStatusTab::paintStatus);
    // The painter starts one second after the window opens, as the status texts always have.
    QTimer::singleShot(1000, this, [this] { painter_.start(); });
}

void SendStatusTab::reset() {
    model_->reset();
    sentCount_ = 0;
    pace_ = 0;
    progress_->setRange(0, 1);
    progress_->setValue(0);
}

void SendStatusTab::addResult(const QString& thread, bool sent, const QString& group,
                              const QString& address) {
    model_->addResult(thread, sent ? QStringLiteral("Sent") : QStringLiteral("Failed to Send"),
                      group, address);
    if (sent) ++sentCount_;
}

void SendStatusTab::setProgressRange(int total) {
    progress_->setRange(0, total > 0 ? total : 1);
    progress_->setValue(0);
}

void SendStatusTab::stepProgress() {
    if (progress_->value() < progress_->maximum()) progress_->setValue(progress_->value() + 1);
}

void SendStatusTab::setCurrentGroup(const QString& group) {
    currentGroup_ = group;
}

void SendStatusTab::setPace(double perMinute) {
    pace_ = perMinute;
    paintStatus();
}

void SendStatusTab::setSending(bool sending) {
    sending_ = sending;
    view_->setEnabled(!sending);
    viewLog_->setEnabled(!sending);
    paintStatus();
}

void SendStatusTab::finished() {
    model_->flush();
    setSending(false);
    progress_->setValue(0);
}

QString SendStatusTab::sentText() const {
    return QString("Total Emails sent: %1").arg(sentCount_);
}

QString SendStatusTab::groupText() const {
    return QString("Current Group: %1").arg(currentGroup_);
}

QString SendStatusTab::paceText() const {
    if (pace_ <= 0) return {};
    const int left = progress_->maximum() - progress_->value();
    return toScreen(paceStatusText(pace_, static_cast<std::size_t>(left > 0 ? left : 0)));
}

void SendStatusTab::paintStatus() {
    sentLabel_->setVisible(sending_);
    groupLabel_->setVisible(sending_);
    paceLabel_->setVisible(sending_ && pace_ > 0);
    if (!sending_) return;
    sentLabel_->setText(sentText());
    groupLabel_->setText(groupText());
    paceLabel_->setText(paceText());
}

}  // namespace qm::ui
