// The rows of the "Send Status" grid: thread label, status, group and address of every result.
//
// Results arrive far faster than a screen can take rows one by one, so addResult() only queues a
// row and the queue is handed to the view as one insertion at most every 100 ms (flush() does it
// at once). A run of 100,000 results is then a few hundred insertions, each cheap, and the window
// stays responsive. Rows are never changed after they are shown; reset() empties everything.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTimer>
#include <array>
#include <vector>

namespace qm::ui {

class StatusModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    using Row = std::array<QString, 4>;

    explicit StatusModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void addResult(const QString& thread, const QString& status, const QString& group,
                   const QString& address);
    void flush();
    void reset();
    // Rows shown plus rows still queued.
    int resultCount() const { return static_cast<int>(rows_.size() + pending_.size()); }

  private:
    std::vector<Row> rows_;
    std::vector<Row> pending_;
    QTimer flushTimer_;
};

}  // namespace qm::ui
