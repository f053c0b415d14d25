// The monitor's traffic table: a row for every frame written and every delivery received, with
// its time, direction, length, bytes, text and decoded meaning. It mirrors the window's line log
// while it runs, and holds still while paused.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>

#include <deque>
#include <vector>

#include "app/line_log.h"

class TrafficModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Time, Direction, Length, Hex, Text, Decoded, ColumnCount };
  static constexpr int kFlawedRole = Qt::UserRole + 1;   // a wrong checksum or CRC, noise
  static constexpr int kDialectsRole = Qt::UserRole + 2; // bit mask of the row's Dialect values

  explicit TrafficModel(LineLog &log, QObject *parent = nullptr);

  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void SetPaused(bool paused);
  bool Paused() const { return paused_; }
  // The rows as lines of text: tab-separated, or CSV with quoted fields.
  QString RowsAsText(const std::vector<int> &rows, bool csv) const;

 private:
  // The texts of a row are made when shown: 10 000 rows of them would be megabytes.
  struct Row {
    LineRecord record;
    bool flawed = false;
    int dialects = 0;
  };
  static Row MakeRow(const LineRecord &record);
  void Append();
  void Reload();

  LineLog &log_;
  std::deque<Row> rows_;
  bool paused_ = false;
};

// Rows of one dialect and one direction, or all.
class TrafficFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void SetDialect(int dialect);      // -1 for all, else a Dialect
  void SetDirection(int direction);  // -1 for all, else a LineDirection

 protected:
  bool filterAcceptsRow(int row, const QModelIndex &parent) const override;

 private:
  int dialect_ = -1;
  int direction_ = -1;
};
