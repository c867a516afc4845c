#include "app/ui/reminder_dialog.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "config/settings.h"

namespace qm::ui {

ReminderDialog::ReminderDialog(SettingsStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
    setWindowTitle("Quillmark Reminder");
    auto* box = new QGroupBox("Online Tutorial Reminder");
    auto* tour = new QPushButton("Quick Tour");
    connect(tour, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(kTutorialUrl)); });
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Click on"));
    row->addWidget(tour);
    row->addWidget(new QLabel("to see online tutorial."));
    row->addStretch();
    auto* inner = new QVBoxLayout(box);
    inner->addLayout(row);
    showAgain_ = new QCheckBox("Show me this reminder");
    showAgain_->setChecked(store.readFlag(keys::kShowReminder));
    auto* ok = new QPushButton("OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(showAgain_);
    bottom->addStretch();
    bottom->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(box);
    layout->addLayout(bottom);
}

void ReminderDialog::done(int result) {
    store_.writeFlag(keys::kShowReminder, showAgain_->isChecked());
    QDialog::done(result);
}

void showReminderIfWanted(SettingsStore& store) {
    if (!store.readFlag(keys::kShowReminder)) return;
    ReminderDialog dialog(store);
    dialog.exec();
}

}  // namespace qm::ui
