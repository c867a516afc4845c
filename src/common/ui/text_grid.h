// A read-only grid of text rows, as every grid of the program is: a header written the program's
// way ("<A|<B", "<" a left-aligned column), column widths in twips, rows set all at once.
//
// Entry points: TextGridModel (setRows(), text()), setUpTextGrid().
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>
#include <initializer_list>
#include <vector>

namespace qm::ui {

// Rows of text under a header written as the program writes grid headers ("<A|<B": "<" is a
// left-aligned column).
class TextGridModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    TextGridModel(const QString& header, QObject* parent);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void setRows(std::vector<QStringList> rows);
    QString text(int row, int column) const;

  private:
    QStringList titles_;
    std::vector<QStringList> rows_;
};

// A read-only grid with the given column widths in twips (15 to a pixel at 96 dpi).
void setUpTextGrid(QTableView* grid, QAbstractItemModel* model, std::initializer_list<int> twips);

}  // namespace qm::ui
