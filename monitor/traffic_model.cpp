#include "monitor/traffic_model.h"

#include <QBrush>
#include <QColor>

TrafficModel::TrafficModel(LineLog &log, QObject *parent) : QAbstractTableModel(parent), log_(log) {
  connect(&log_, &LineLog::Recorded, this, &TrafficModel::Append);
  connect(&log_, &LineLog::Cleared, this, &TrafficModel::Reload);
  Reload();
}

namespace {

const uint8_t *Bytes(const LineRecord &record) { return reinterpret_cast<const uint8_t *>(record.bytes.constData()); }
size_t Count(const LineRecord &record) { return static_cast<size_t>(record.bytes.size()); }

// The hexadecimal pairs (`text` false) or the text form (true) of a record's bytes.
QString HexOrText(const LineRecord &record, bool text) {
  const std::string both = BytesAndText(Bytes(record), Count(record));
  const size_t split = both.find("  ");
  if (split == std::string::npos) return text ? QString() : QString::fromStdString(both);
  return QString::fromStdString(text ? both.substr(split + 2) : both.substr(0, split));
}

}  // namespace

TrafficModel::Row TrafficModel::MakeRow(const LineRecord &record) {
  Row row;
  row.record = record;
  for (const DecodedFrame &f : DecodeLine(Bytes(record), Count(record), record.direction)) {
    row.flawed = row.flawed || f.flawed;
    row.dialects |= 1 << static_cast<int>(f.dialect);
  }
  return row;
}

void TrafficModel::Append() {
  if (paused_ || log_.Size() == 0) return;
  if (rows_.size() >= log_.Capacity()) {
    beginRemoveRows({}, 0, 0);
    rows_.pop_front();
    endRemoveRows();
  }
  const int at = static_cast<int>(rows_.size());
  beginInsertRows({}, at, at);
  rows_.push_back(MakeRow(log_.At(log_.Size() - 1)));
  endInsertRows();
}

void TrafficModel::Reload() {
  beginResetModel();
  rows_.clear();
  for (size_t i = 0; i < log_.Size(); ++i) rows_.push_back(MakeRow(log_.At(i)));
  endResetModel();
}

void TrafficModel::SetPaused(bool paused) {
  if (paused_ == paused) return;
  paused_ = paused;
  if (!paused_) Reload();  // what came meanwhile
}

int TrafficModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TrafficModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const Row &row = rows_[static_cast<size_t>(index.row())];
  if (role == kFlawedRole) return row.flawed;
  if (role == kDialectsRole) return row.dialects;
  if (role == Qt::ForegroundRole && row.flawed) return QBrush(QColor(0xB0, 0x00, 0x00));
  if (role == Qt::TextAlignmentRole && (index.column() == Time || index.column() == Length))
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  switch (index.column()) {
    case Time: return row.record.ms;
    case Direction: return row.record.direction == LineDirection::Sent ? QStringLiteral("out") : QStringLiteral("in");
    case Length: return row.record.bytes.size();
    case Hex: return HexOrText(row.record, false);
    case Text: return HexOrText(row.record, true);
    case Decoded:
      return QString::fromStdString(DecodeLineText(Bytes(row.record), Count(row.record), row.record.direction));
    default: return {};
  }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char *names[] = {"Time (ms)", "Dir", "Bytes", "Hexadecimal", "Text", "Meaning"};
  return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QVariant();
}

QString TrafficModel::RowsAsText(const std::vector<int> &rows, bool csv) const {
  auto field = [csv](QString value) {
    if (!csv) return value.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return QLatin1Char('"') + value.replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
  };
  const QLatin1Char separator(csv ? ',' : '\t');
  QString out;
  if (csv) {
    QStringList head;
    for (int c = 0; c < ColumnCount; ++c) head << field(headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
    out += head.join(separator) + QLatin1Char('\n');
  }
  for (int r : rows) {
    QStringList cells;
    for (int c = 0; c < ColumnCount; ++c) cells << field(data(index(r, c), Qt::DisplayRole).toString());
    out += cells.join(separator) + QLatin1Char('\n');
  }
  return out;
}

void TrafficFilter::SetDialect(int dialect) {
  dialect_ = dialect;
  invalidateFilter();
}

void TrafficFilter::SetDirection(int direction) {
  direction_ = direction;
  invalidateFilter();
}

bool TrafficFilter::filterAcceptsRow(int row, const QModelIndex &parent) const {
  const QModelIndex first = sourceModel()->index(row, 0, parent);
  if (dialect_ >= 0 && !(first.data(TrafficModel::kDialectsRole).toInt() & (1 << dialect_))) return false;
  if (direction_ >= 0) {
    const QString dir = sourceModel()->index(row, TrafficModel::Direction, parent).data().toString();
    if ((direction_ == static_cast<int>(LineDirection::Sent)) != (dir == QLatin1String("out"))) return false;
  }
  return true;
}
