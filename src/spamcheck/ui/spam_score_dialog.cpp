#include "spamcheck/ui/spam_score_dialog.h"

#include <QAbstractTableModel>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "common/ui/text.h"

namespace qm::ui {

namespace {

// Twips at 96 dots per inch: 15 twips a pixel.
constexpr int kRuleWidth = 2000 / 15;
constexpr int kDescriptionWidth = 4550 / 15;

class SpamRowsModel : public QAbstractTableModel {
  public:
    SpamRowsModel(const std::vector<SpamRow>& rows, QObject* parent)
        : QAbstractTableModel(parent), rows_(rows) {}
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        const SpamRow& r = rows_[static_cast<std::size_t>(index.row())];
        switch (index.column()) {
            case 0:
                return toScreen(r.score);
            case 1:
                return toScreen(r.rule);
            default:
                return toScreen(r.description);
        }
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (role != Qt::DisplayRole) return {};
        if (o == Qt::Vertical) return section + 1;
        static const char* titles[] = {"Score", "Rule", "Description"};
        return QString(titles[section]);
    }

  private:
    const std::vector<SpamRow>& rows_;
};

}  // namespace

SpamHelpDialog::SpamHelpDialog(double score, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Help");
    text_ = new QLabel(toScreen(helpText(verdictFor(score))));
    text_->setWordWrap(true);
    const QString url = toScreen(kRuleListUrl);
    auto* link = new QLabel(QString("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped()));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(link);
    layout->addWidget(ok);
    resize(460, 260);
}

SpamScoreDialog::SpamScoreDialog(SpamReport report, QWidget* parent)
    : QDialog(parent), report_(std::move(report)) {
    setWindowTitle("Spam Score");
    grid_ = new QTableView;
    grid_->setModel(new SpamRowsModel(report_.rows, this));
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setWordWrap(false);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    grid_->setColumnWidth(0, 50);
    grid_->setColumnWidth(1, kRuleWidth + 40);
    grid_->setColumnWidth(2, kDescriptionWidth + 100);
    grid_->horizontalHeader()->setStretchLastSection(true);

    score_ = new QLabel(toScreen(report_.scoreLine));
    score_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    help_ = new QLabel("<a href=\"help\">(?)</a>");
    help_->setToolTip("What the score means");
    connect(help_, &QLabel::linkActivated, this, [this] { showHelp(); });
    auto* ok = new QPushButton("OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* line = new QHBoxLayout;
    line->addWidget(score_);
    line->addWidget(help_);
    line->addStretch(1);
    line->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_, 1);
    layout->addLayout(line);
    resize(720, 360);
}

void SpamScoreDialog::showHelp() {
    if (!helpWindow_) {
        helpWindow_ = new SpamHelpDialog(report_.score, this);
        helpWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    helpWindow_->show();
    helpWindow_->raise();
}

}  // namespace qm::ui
