#include "groups/ui/recipient_dialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "common/ui/message_boxes.h"
#include "common/ui/text.h"

namespace qm::ui {

namespace {

using F = RecipientField;

struct FieldRow {
    F field;
    const char* label;
    int limit;  // characters; 0: none
    bool digits;
    bool lines;  // several lines allowed
    int column;  // of the dialog's two
};

// In the order of the group line, which is also the order of the Tab key.
constexpr FieldRow kRows[] = {
    {F::Email, "Email:", 100, false, false, 0},
    {F::Name, "Name:", 100, false, false, 0},
    {F::Telephone, "Telephone:", 30, false, false, 0},
    {F::Address1, "Address1:", 200, false, true, 0},
    {F::Title, "Title:", 30, false, false, 0},
    {F::Company, "Company:", 0, false, false, 0},
    {F::Mobile, "Mobile Number:", 15, true, false, 0},
    {F::Fax, "Fax Number:", 0, true, false, 1},
    {F::Address2, "Address2:", 200, false, true, 1},
    {F::City, "City:", 0, false, false, 1},
    {F::State, "State:", 0, false, false, 1},
    {F::Zip, "Zip Code:", 0, true, false, 1},
    {F::Country, "Country/Region:", 0, false, false, 1},
};

// A plain-text box has no length limit of its own: cut what goes past it.
void limitLength(QPlainTextEdit* box, int limit) {
    QObject::connect(box, &QPlainTextEdit::textChanged, box, [box, limit] {
        QString text = box->toPlainText();
        if (text.size() <= limit) return;
        QSignalBlocker block(box);
        box->setPlainText(text.left(limit));
        box->moveCursor(QTextCursor::End);
    });
}

}  // namespace

RecipientDialog::RecipientDialog(GroupStore& store, std::optional<std::string> email,
                                 QWidget* parent)
    : QDialog(parent), store_(store), email_(std::move(email)) {
    setWindowTitle(email_ ? "Modify Recipient" : "Add Recipient");
    auto* grid = new QGridLayout;
    int rowOf[2] = {0, 0};
    auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
    for (const FieldRow& row : kRows) {
        QWidget* box;
        if (row.lines) {
            auto* edit = new QPlainTextEdit;
            edit->setTabChangesFocus(true);
            edit->setFixedHeight(52);
            limitLength(edit, row.limit);
            box = edit;
        } else {
            auto* edit = new QLineEdit;
            if (row.limit > 0) edit->setMaxLength(row.limit);
            if (row.digits) edit->setValidator(digits);
            box = edit;
        }
        fields_[static_cast<int>(row.field)] = box;
        auto* label = new QLabel(row.label);
        label->setBuddy(box);
        int& r = rowOf[row.column];
        grid->addWidget(label, r, row.column * 2, row.lines ? Qt::AlignTop : Qt::Alignment());
        grid->addWidget(box, r, row.column * 2 + 1);
        ++r;
    }
    grid->setColumnMinimumWidth(1, 200);
    grid->setColumnMinimumWidth(3, 200);
    grid->setHorizontalSpacing(10);

    submit_ = new QPushButton(email_ ? "&Modify" : "&Add");
    submit_->setDefault(true);
    connect(submit_, &QPushButton::clicked, this, &RecipientDialog::submit);
    auto* cancel = new QPushButton("&Cancel");
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    if (!email_) {
        clear_ = new QCheckBox("Clear after addition");
        buttons->addWidget(clear_);
    }
    buttons->addStretch();
    buttons->addWidget(submit_);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    if (email_)
        if (const Recipient* r = store_.recipient(*email_)) fill(*r);
    field(F::Email)->setFocus();
}

void RecipientDialog::setFieldText(F f, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(field(f)))
        edit->setText(text);
    else
        static_cast<QPlainTextEdit*>(field(f))->setPlainText(text);
}

QString RecipientDialog::fieldText(F f) const {
    if (auto* edit = qobject_cast<QLineEdit*>(field(f))) return edit->text();
    return static_cast<QPlainTextEdit*>(field(f))->toPlainText();
}

void RecipientDialog::fill(const Recipient& r) {
    for (const FieldRow& row : kRows) {
        // Addresses are shown unescaped; every other field as stored, so a modify keeps it.
        std::string value = row.field == F::Address1 ? unescapeAddress(r.address1)
                            : row.field == F::Address2
                                ? unescapeAddress(r.address2)
                                : *lineFields(r)[static_cast<int>(row.field)];
        const std::string shown = restoreCommas(value);
        // Address fields keep their commas escaped; their stand-ins are plain text there.
        if (row.field != F::Address1 && row.field != F::Address2)
            standIns_[static_cast<int>(row.field)] =
                static_cast<int>(std::count(shown.begin(), shown.end(), ',') -
                                 std::count(value.begin(), value.end(), ','));
        setFieldText(row.field, toScreen(shown));
    }
}

Recipient RecipientDialog::typed() const {
    Recipient r;
    auto out = lineFields(r);
    for (const FieldRow& row : kRows) {
        std::string value = fromScreen(fieldText(row.field));
        int standIns = standIns_[static_cast<int>(row.field)];
        for (char& c : value)
            if (standIns > 0 && c == ',') {
                c = kCommaStandIn;
                --standIns;
            }
        *out[static_cast<int>(row.field)] = std::move(value);
    }
    return r;
}

void RecipientDialog::submit() {
    EntryCheck check = checkRecipientEntry(typed());
    if (!check.result.ok()) {
        inform(this, check.result.message);
        field(F::Email)->setFocus();
        return;
    }
    if (check.askShortAddress && !ask(this, toScreen(kAskShortAddress))) {
        field(F::Address1)->setFocus();
        return;
    }
    StoreResult r =
        email_ ? store_.modifyRecipient(*email_, check.record) : store_.addRecipient(check.record);
    emit storeChanged();
    if (!r.ok()) {
        inform(this, r.message);
        return;
    }
    for (const auto& notice : r.notices) inform(this, notice);
    if (email_ || !r.notices.empty() || !clear_->isChecked()) {
        accept();
        return;
    }
    for (const FieldRow& row : kRows) setFieldText(row.field, {});
    field(F::Email)->setFocus();
}

}  // namespace qm::ui
