#include "groups/ui/select_groups_dialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/text.h"
#include "config/paths.h"
#include "groups/group_files.h"
#include "groups/group_selection.h"
#include "groups/ui/group_window.h"

namespace qm::ui {

SelectGroupsDialog::SelectGroupsDialog(const Paths& paths, const QString& selection,
                                       QWidget* parent)
    : QDialog(parent), paths_(paths), selection_(fromScreen(selection)) {
    setWindowTitle("Select Groups");
    list_ = new QListWidget;
    fillList();
    connect(list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        selection_ =
            setGroupSelected(selection_, item->data(Qt::UserRole).toByteArray().toStdString(),
                             item->checkState() == Qt::Checked);
    });
    auto* ok = new QPushButton("OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    manage_ = new QPushButton("Group Management");
    manage_->setAutoDefault(false);
    connect(manage_, &QPushButton::clicked, this, &SelectGroupsDialog::openGroupManagement);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(manage_);
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(320, 360);
}

void SelectGroupsDialog::fillList() {
    QSignalBlocker block(list_);
    list_->clear();
    for (const auto& name : listGroups(paths_)) {
        auto* item = new QListWidgetItem(toScreen(name), list_);
        item->setData(Qt::UserRole, QByteArray::fromStdString(name));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(isGroupSelected(selection_, name) ? Qt::Checked : Qt::Unchecked);
    }
}

void SelectGroupsDialog::openGroupManagement() {
    GroupWindow window(paths_, this);
    window.exec();
    selection_.clear();
    fillList();
}

QString SelectGroupsDialog::selection() const {
    return toScreen(selection_);
}

}  // namespace qm::ui
