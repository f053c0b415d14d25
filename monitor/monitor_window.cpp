#include "monitor/monitor_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "app/error_display.h"
#include "app/main_window.h"
#include "monitor/traffic_model.h"
#include "monitor/trend_chart.h"

namespace {

QPushButton *Button(const QString &text, const char *name, QWidget *parent) {
  auto *b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  return b;
}

}  // namespace

MonitorWindow::MonitorWindow(TForm1 &form) : QWidget(nullptr, Qt::Window), form_(form) {
  setObjectName(QStringLiteral("Monitor"));
  setWindowTitle(tr("RQ735 Monitor"));
  resize(1000, 560);

  auto *tabs = new QTabWidget(this);
  tabs->setObjectName(QStringLiteral("MonitorPages"));
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(tabs);

  // Traffic
  auto *traffic = new QWidget;
  auto *tools = new QHBoxLayout;
  auto *pause = Button(tr("Pause"), "PauseButton", traffic);
  pause->setCheckable(true);
  auto *clear = Button(tr("Clear"), "ClearButton", traffic);
  auto *dialect = new QComboBox(traffic);
  dialect->setObjectName(QStringLiteral("DialectFilter"));
  dialect->addItem(tr("All dialects"), -1);
  for (Dialect d : {Dialect::Module, Dialect::Hart, Dialect::Modbus, Dialect::Noise})
    dialect->addItem(QString::fromLatin1(DialectName(d)), static_cast<int>(d));
  auto *direction = new QComboBox(traffic);
  direction->setObjectName(QStringLiteral("DirectionFilter"));
  direction->addItem(tr("Both directions"), -1);
  direction->addItem(tr("Sent"), static_cast<int>(LineDirection::Sent));
  direction->addItem(tr("Received"), static_cast<int>(LineDirection::Received));
  auto *copy = Button(tr("Copy"), "CopyButton", traffic);
  auto *saveText = Button(tr("Save as text..."), "SaveTextButton", traffic);
  auto *saveCsv = Button(tr("Save as CSV..."), "SaveCsvButton", traffic);
  for (QWidget *w : std::initializer_list<QWidget *>{pause, clear, dialect, direction, copy, saveText, saveCsv})
    tools->addWidget(w);
  tools->addStretch();

  model_ = new TrafficModel(form_.Traffic(), this);
  filter_ = new TrafficFilter(this);
  filter_->setSourceModel(model_);
  table_ = new QTableView(traffic);
  table_->setObjectName(QStringLiteral("TrafficTable"));
  table_->setModel(filter_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->setVisible(false);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);  // one line a frame
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setWordWrap(false);
  table_->setColumnWidth(TrafficModel::Time, 80);
  table_->setColumnWidth(TrafficModel::Direction, 36);
  table_->setColumnWidth(TrafficModel::Length, 48);
  table_->setColumnWidth(TrafficModel::Hex, 260);
  table_->setColumnWidth(TrafficModel::Text, 140);
  auto *trafficLayout = new QVBoxLayout(traffic);
  trafficLayout->addLayout(tools);
  trafficLayout->addWidget(table_);
  tabs->addTab(traffic, tr("Traffic"));

  // The newest row stays in sight unless the user has scrolled away from the end.
  connect(filter_, &QAbstractItemModel::rowsInserted, this, [this] {
    if (!model_->Paused()) table_->scrollToBottom();
  });
  connect(pause, &QPushButton::toggled, this, [this](bool on) { model_->SetPaused(on); });
  connect(clear, &QPushButton::clicked, this, [this] { form_.Traffic().Clear(); });
  connect(dialect, &QComboBox::activated, this, [this, dialect] { filter_->SetDialect(dialect->currentData().toInt()); });
  connect(direction, &QComboBox::activated, this,
          [this, direction] { filter_->SetDirection(direction->currentData().toInt()); });
  connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(SelectedText()); });
  auto save = [this](bool csv) {
    const QString path = QFileDialog::getSaveFileName(this, tr("Save the traffic"), QString(),
                                                      csv ? tr("CSV (*.csv)") : tr("Text (*.txt)"));
    if (!path.isEmpty() && !SaveText(path, csv)) ShowMessage(tr("Cannot write %1").arg(path));
  };
  connect(saveText, &QPushButton::clicked, this, [save] { save(false); });
  connect(saveCsv, &QPushButton::clicked, this, [save] { save(true); });

  // Trend
  auto *trendPage = new QWidget;
  auto *trendTools = new QHBoxLayout;
  poll_ = new QCheckBox(tr("Poll every"), trendPage);
  poll_->setObjectName(QStringLiteral("PollCheck"));
  pollSeconds_ = new QSpinBox(trendPage);
  pollSeconds_->setObjectName(QStringLiteral("PollSeconds"));
  pollSeconds_->setRange(1, 3600);
  pollSeconds_->setValue(1);
  pollSeconds_->setSuffix(tr(" s"));
  auto *exportCsv = Button(tr("Export CSV..."), "ExportCsvButton", trendPage);
  auto *exportPng = Button(tr("Export PNG..."), "ExportPngButton", trendPage);
  trendTools->addWidget(poll_);
  trendTools->addWidget(pollSeconds_);
  trendTools->addWidget(exportCsv);
  trendTools->addWidget(exportPng);
  trendTools->addStretch();
  trend_ = new TrendChart(form_.Traffic(), trendPage);
  auto *trendLayout = new QVBoxLayout(trendPage);
  trendLayout->addLayout(trendTools);
  trendLayout->addWidget(trend_);
  tabs->addTab(trendPage, tr("Trend"));

  connect(&form_.Traffic(), &LineLog::SampleAdded, this, [this] { ++samplesSeen_; });
  pollTimer_ = new QTimer(this);
  connect(pollTimer_, &QTimer::timeout, this, &MonitorWindow::Poll);
  connect(poll_, &QCheckBox::toggled, this, [this](bool on) { SetPolling(on, pollSeconds_->value()); });
  connect(pollSeconds_, qOverload<int>(&QSpinBox::valueChanged), this, [this](int s) {
    if (pollTimer_->isActive()) pollTimer_->setInterval(s * 1000);
  });
  connect(exportCsv, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, tr("Export the samples"), QString(), tr("CSV (*.csv)"));
    if (!path.isEmpty() && !trend_->SaveCsv(path)) ShowMessage(tr("Cannot write %1").arg(path));
  });
  connect(exportPng, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, tr("Export the chart"), QString(), tr("PNG (*.png)"));
    if (!path.isEmpty() && !trend_->SavePng(path)) ShowMessage(tr("Cannot write %1").arg(path));
  });
}

std::vector<int> MonitorWindow::ShownRows(bool selectedOnly) const {
  std::vector<int> rows;
  const QModelIndexList selected = table_->selectionModel()->selectedRows();
  if (selectedOnly && !selected.isEmpty()) {
    for (const QModelIndex &i : selected) rows.push_back(filter_->mapToSource(i).row());
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  for (int r = 0; r < filter_->rowCount(); ++r) rows.push_back(filter_->mapToSource(filter_->index(r, 0)).row());
  return rows;
}

QString MonitorWindow::SelectedText() const { return model_->RowsAsText(ShownRows(true), false); }

bool MonitorWindow::SaveText(const QString &path, bool csv) const {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
  return file.write(model_->RowsAsText(ShownRows(false), csv).toUtf8()) >= 0;
}

void MonitorWindow::SetPolling(bool on, int seconds) {
  pollSeconds_->setValue(seconds);
  if (poll_->isChecked() != on) poll_->setChecked(on);  // comes back here through toggled
  if (on) {
    if (!pollTimer_->isActive()) turnOut_ = false;
    pollTimer_->start(seconds * 1000);
  } else {
    pollTimer_->stop();
  }
}

bool MonitorWindow::Polling() const { return pollTimer_->isActive(); }

void MonitorWindow::Poll() {
  RequestCycle &cycle = form_.Cycle();
  if (!cycle.PortOpen()) {
    SetPolling(false, pollSeconds_->value());  // the port closed: polling ends
    return;
  }
  // Another request waits for its reply (or for its parse): this turn is skipped.
  if (cycle.Waiting()) return;
  // A message box waits for the user: no turn goes out, so boxes do not pile up behind it.
  if (QApplication::activeModalWidget()) return;
  if (turnOut_ && samplesSeen_ == samplesAtTurn_) {
    SetPolling(false, pollSeconds_->value());  // the last turn had no answer
    return;
  }
  samplesAtTurn_ = samplesSeen_;
  turnOut_ = true;
  cycle.Send(RequestCycle::Request::DynamicVariables);
}
