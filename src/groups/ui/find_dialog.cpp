#include "groups/ui/find_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"
#include "groups/ui/group_grid.h"
#include "groups/ui/recipient_table_model.h"

namespace qm::ui {

FindDialog::FindDialog(const GroupStore& store, MenuFor menuFor, QWidget* parent)
    : QDialog(parent), store_(store), menuFor_(std::move(menuFor)) {
    setWindowTitle("Find Recipients in Group");
    by_ = new QComboBox;
    by_->addItem("Email", static_cast<int>(FindField::Email));
    by_->addItem("Name", static_cast<int>(FindField::Name));
    by_->setToolTip("Find by Name or Email");
    op_ = new QComboBox;
    op_->setToolTip("Select a option to search");
    expression_ = new QLineEdit;
    expression_->setToolTip("Enter expression to find");
    find_ = new QPushButton("&Find");
    find_->setToolTip("Start finding");
    find_->setDefault(true);
    auto* close = new QPushButton("&Close");
    close->setToolTip("Close this window");
    connect(find_, &QPushButton::clicked, this, &FindDialog::runFind);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(by_, &QComboBox::currentIndexChanged, this, &FindDialog::searchByChanged);
    searchByChanged();

    model_ = new RecipientTableModel(store_, this);
    model_->showRows(std::vector<std::size_t>{});
    grid_ = new QTableView;
    setUpGroupGrid(grid_, model_);
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid_, &QTableView::customContextMenuRequested, this, [this](const QPoint& at) {
        QModelIndex index = grid_->indexAt(at);
        if (!index.isValid()) return;
        grid_->selectRow(index.row());
        if (QMenu* menu = menuForRow(index.row())) {
            menu->exec(grid_->viewport()->mapToGlobal(at));
            menu->deleteLater();
        }
    });

    auto* form = new QGridLayout;
    form->addWidget(new QLabel("Search by:"), 0, 0);
    form->addWidget(by_, 0, 1);
    form->addWidget(op_, 0, 2);
    form->addWidget(expression_, 0, 3);
    form->setColumnStretch(3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(find_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(grid_, 1);
    layout->addLayout(buttons);
    resize(760, 420);
}

void FindDialog::searchByChanged() {
    // "Domain Is" belongs to e-mail addresses; either choice starts again from "Is".
    op_->clear();
    op_->addItem("Is", static_cast<int>(FindOperator::Is));
    op_->addItem("Starts with", static_cast<int>(FindOperator::StartsWith));
    op_->addItem("Ends with", static_cast<int>(FindOperator::EndsWith));
    if (by_->currentData().toInt() == static_cast<int>(FindField::Email))
        op_->addItem("Domain Is", static_cast<int>(FindOperator::DomainIs));
    op_->setCurrentIndex(0);
}

void FindDialog::runFind() {
    Search search{static_cast<FindField>(by_->currentData().toInt()),
                  static_cast<FindOperator>(op_->currentData().toInt()),
                  fromScreen(expression_->text())};
    std::vector<std::size_t> matches;
    StoreResult r = store_.find(search.field, search.op, search.expression, matches);
    if (!r.ok()) {
        inform(this, r.message);
        expression_->setFocus();
        return;
    }
    last_ = search;
    model_->showRows(std::move(matches));
}

void FindDialog::refresh() {
    std::vector<std::size_t> matches;
    if (last_) store_.find(last_->field, last_->op, last_->expression, matches);
    model_->showRows(std::move(matches));
}

std::optional<std::string> FindDialog::selectedEmail() const {
    if (const Recipient* r = model_->recipientAt(grid_->currentIndex().row())) return r->email;
    return std::nullopt;
}

QMenu* FindDialog::menuForRow(int row) {
    const Recipient* r = model_->recipientAt(row);
    return r ? menuFor_(r->email, this) : nullptr;
}

}  // namespace qm::ui
