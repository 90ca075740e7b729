#include "ui/logs/event_log_window.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "host/host.h"
#include "ui/common/prompter.h"
#include "ui/common/window_texts.h"
#include "ui/logs/grid_export.h"

namespace tessel {

// One thread that reads and sorts for the viewer. A new job replaces a waiting one and stops a
// running one at its next check, so only the newest search costs anything.
class EventQueryWorker {
 public:
  struct Job {
    uint64_t Id = 0;
    bool Read = true;  // read the file; otherwise put Rows into a new order
    std::string Path;
    EventLogFilter Filter;
    EventRows Rows;
    int SortCol = 0;
    bool SortDesc = false;
    uint8_t Language = 0;
  };
  // Called on the worker thread with the rows of a job that was not replaced.
  using Deliver = std::function<void(const Job& job, EventRows rows)>;

  explicit EventQueryWorker(Deliver deliver)
      : deliver_(std::move(deliver)), thread_([this] { Run(); }) {}
  ~EventQueryWorker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      pending_.reset();
    }
    wake_.notify_one();
    thread_.join();
  }

  void Submit(Job job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      latest_ = job.Id;
      pending_ = std::move(job);
    }
    wake_.notify_one();
  }
  // Drops the waiting and the running job.
  void Cancel(uint64_t newerId) {
    std::lock_guard<std::mutex> lock(mutex_);
    latest_ = newerId;
    pending_.reset();
  }

 private:
  void Run() {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
        if (stop_) return;
        job = std::move(*pending_);
        pending_.reset();
      }
      const auto current = [this, &job] { return !stop_ && latest_ == job.Id; };
      std::vector<EventLogEntry> rows;
      if (job.Read) {
        bool stopped = false;
        rows = QueryEventEntries(job.Path, job.Filter, job.Language, current, &stopped);
        if (stopped) continue;
      } else {
        rows = *job.Rows;
      }
      if (!current()) continue;
      SortEventEntries(rows, job.SortCol, job.SortDesc, job.Language);
      if (!current()) continue;
      deliver_(job, std::make_shared<const std::vector<EventLogEntry>>(std::move(rows)));
    }
  }

  Deliver deliver_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Job> pending_;
  std::atomic<uint64_t> latest_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;  // last: starts once everything it uses exists
};

namespace {

constexpr int kColumnWidths[kEventLogColumns] = {67, 148, 101, 448};

}  // namespace

TFrmEventLog::TFrmEventLog(Host& host, Prompter& prompter, QWidget* parent)
    : QDialog(parent), host_(host), prompter_(prompter), model_(std::make_unique<EventLogModel>()) {
  setObjectName("TFrmEventLog");
  BuildControls();

  tmr1_.setObjectName("tmr1");
  tmr1_.setSingleShot(true);
  tmr1_.setInterval(kRefreshMs);
  connect(&tmr1_, &QTimer::timeout, this, &TFrmEventLog::RefreshTick);
  // The timer runs only when the log has news: an idle viewer wakes nobody.
  connect(&host_, &Host::eventAppended, this, &TFrmEventLog::EventAppended);

  worker_ =
      std::make_unique<EventQueryWorker>([this](const EventQueryWorker::Job& job, EventRows rows) {
        QMetaObject::invokeMethod(
            this,
            [this, id = job.Id, col = job.SortCol, desc = job.SortDesc, rows = std::move(rows)] {
              RowsArrived(id, col, desc, rows);
            },
            Qt::QueuedConnection);
      });
}

TFrmEventLog::~TFrmEventLog() = default;

TFrmEventLog* TFrmEventLog::Open(Host& host, Prompter& prompter, QWidget* parent) {
  auto* viewer =
      parent ? parent->findChild<TFrmEventLog*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
  if (!viewer) {
    viewer = new TFrmEventLog(host, prompter, parent);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
  }
  viewer->show();
  viewer->raise();
  viewer->activateWindow();
  return viewer;
}

void TFrmEventLog::BuildControls() {
  auto* top = new QHBoxLayout;

  rdViewMode_ = new QGroupBox(this);
  rdViewMode_->setObjectName("rdViewMode");
  auto* modes = new QHBoxLayout(rdViewMode_);
  viewModes_ = new QButtonGroup(this);
  const char* modeNames[] = {"rdViewModeAll", "rdViewModeYear", "rdViewModeMonth",
                             "rdViewModeDate"};
  for (int i = 0; i < 4; ++i) {
    modeButtons_[i] = new QRadioButton(rdViewMode_);
    modeButtons_[i]->setObjectName(modeNames[i]);
    viewModes_->addButton(modeButtons_[i], i);
    modes->addWidget(modeButtons_[i]);
  }
  modeButtons_[static_cast<int>(EventViewMode::Month)]->setChecked(true);
  connect(viewModes_, &QButtonGroup::idClicked, this, &TFrmEventLog::ViewModeChanged);
  top->addWidget(rdViewMode_);

  auto* dates = new QGridLayout;
  const auto spin = [this](const char* name, int min, int max) {
    auto* s = new QSpinBox(this);
    s->setObjectName(name);
    s->setRange(min, max);
    return s;
  };
  spedtYear_ = spin("spedtYear", 2000, 2100);
  spedtMonth_ = spin("spedtMonth", 1, 12);
  spedtDate_ = spin("spedtDate", 1, 31);
  lblYear_ = new QLabel(this);
  lblYear_->setObjectName("lblYear");
  lblMonth_ = new QLabel(this);
  lblMonth_->setObjectName("lblMonth");
  lblDate_ = new QLabel(this);
  lblDate_->setObjectName("lblDate");
  int col = 0;
  for (auto [spinBox, label] : {std::pair{spedtYear_, lblYear_}, std::pair{spedtMonth_, lblMonth_},
                                std::pair{spedtDate_, lblDate_}}) {
    label->setBuddy(spinBox);
    dates->addWidget(spinBox, 0, col++);
    dates->addWidget(label, 0, col++);
  }
  checkBox1_ = new QCheckBox(this);
  checkBox1_->setObjectName("CheckBox1");
  spinAddr_ = spin("SpinAddr", 1, 254);
  spinAddr_->setValue(1);
  spinAddr_->setEnabled(false);
  connect(checkBox1_, &QCheckBox::toggled, spinAddr_, &QWidget::setEnabled);
  dates->addWidget(checkBox1_, 1, 0, 1, 4);
  dates->addWidget(spinAddr_, 1, 4, 1, 2);
  top->addLayout(dates);

  btnSearch_ = new QPushButton(this);
  btnSearch_->setObjectName("btnSearch");
  btnSearch_->setDefault(true);
  connect(btnSearch_, &QPushButton::clicked, this, &TFrmEventLog::Search);
  top->addWidget(btnSearch_, 0, Qt::AlignBottom);
  top->addStretch(1);

  auto* actions = new QHBoxLayout;
  const auto button = [this, actions](const char* name, void (TFrmEventLog::*slot)()) {
    auto* b = new QPushButton(this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, slot);
    actions->addWidget(b);
    return b;
  };
  btnClear_ = button("btnClear", &TFrmEventLog::ClearDatabase);
  bsSkinButton1_ = button("bsSkinButton1", &TFrmEventLog::Resort);
  bsSkinButton2_ = button("bsSkinButton2", &TFrmEventLog::Export);
  edt1_ = new QLineEdit(this);
  edt1_->setObjectName("edt1");
  edt1_->setReadOnly(true);
  edt1_->setVisible(false);
  actions->addWidget(edt1_, 1);
  prgBusy_ = new QProgressBar(this);
  prgBusy_->setObjectName("prgBusy");
  prgBusy_->setRange(0, 0);  // a search has no known length until it is done
  prgBusy_->setTextVisible(false);
  prgBusy_->setMaximumWidth(160);
  prgBusy_->setVisible(false);
  actions->addWidget(prgBusy_);
  actions->addStretch(1);

  grdEvntRec_ = new QTableView(this);
  grdEvntRec_->setObjectName("grdEvntRec");
  grdEvntRec_->setModel(model_.get());
  grdEvntRec_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grdEvntRec_->setSelectionMode(QAbstractItemView::SingleSelection);
  grdEvntRec_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdEvntRec_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  grdEvntRec_->setWordWrap(false);
  grdEvntRec_->verticalHeader()->hide();
  // Fixed row heights: the view never measures a row, however many there are.
  grdEvntRec_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grdEvntRec_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  QHeaderView* header = grdEvntRec_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setStretchLastSection(true);
  for (int c = 0; c < kEventLogColumns; ++c) header->resizeSection(c, kColumnWidths[c]);
  connect(header, &QHeaderView::sectionPressed, this, &TFrmEventLog::HeaderPressed);
  connect(grdEvntRec_, &QTableView::pressed, this, [this] { Resort(); });
  connect(grdEvntRec_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) SelRow = current.row() + 1;
          });

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(actions);
  layout->addWidget(grdEvntRec_, 1);

  int gridWidth = 0;
  for (int w : kColumnWidths) gridWidth += w;
  resize(gridWidth + 60, 520);
  ViewModeChanged();
}

void TFrmEventLog::ApplyLanguage() {
  const uint8_t language = host_.Ctx().settings.Language;
  const auto tr = [language](const UiText& t) { return Tr(t, language); };
  setWindowTitle(tr(txt::EventLogTitle));
  rdViewMode_->setTitle(tr(txt::EventViewModeCaption));
  const UiText* modeTexts[] = {&txt::EventViewAll, &txt::EventViewYear, &txt::EventViewMonth,
                               &txt::EventViewDate};
  for (int i = 0; i < 4; ++i) modeButtons_[i]->setText(tr(*modeTexts[i]));
  checkBox1_->setText(tr(txt::EventByAddress));
  spinAddr_->setAccessibleName(tr(txt::EventByAddress));
  lblYear_->setText(tr(txt::YearLabel));
  lblMonth_->setText(tr(txt::MonthLabel));
  lblDate_->setText(tr(txt::DateLabel));
  spedtYear_->setAccessibleName(tr(txt::YearLabel));
  spedtMonth_->setAccessibleName(tr(txt::MonthLabel));
  spedtDate_->setAccessibleName(tr(txt::DateLabel));
  btnSearch_->setText(tr(txt::EventSearch));
  bsSkinButton1_->setText(tr(txt::EventRefresh));
  bsSkinButton2_->setText(tr(txt::EventExport));
  btnClear_->setText(tr(txt::EventClear));
  edt1_->setAccessibleName(tr(txt::DebugLine));
  prgBusy_->setAccessibleName(tr(txt::EventBusy));
  grdEvntRec_->setAccessibleName(tr(txt::EventLogTitle));
  model_->SetLanguage(language);
}

void TFrmEventLog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  ApplyLanguage();
  const QDate today = Today();
  spedtYear_->setValue(today.year());
  spedtMonth_->setValue(today.month());
  spedtDate_->setValue(today.day());
  Search();
  // Events logged while no viewer was open: the first tick looks again, as after any news.
  if (host_.Core().EventLog().Changed != 0 && !tmr1_.isActive()) tmr1_.start();
}

void TFrmEventLog::ViewModeChanged() {
  const int mode = viewModes_->checkedId();
  spedtYear_->setEnabled(mode >= static_cast<int>(EventViewMode::Year));
  spedtMonth_->setEnabled(mode >= static_cast<int>(EventViewMode::Month));
  spedtDate_->setEnabled(mode >= static_cast<int>(EventViewMode::Date));
}

EventLogFilter TFrmEventLog::Filter() const {
  return MakeEventLogFilter(static_cast<EventViewMode>(viewModes_->checkedId()),
                            static_cast<uint16_t>(spedtYear_->value()),
                            static_cast<uint16_t>(spedtMonth_->value()),
                            static_cast<uint16_t>(spedtDate_->value()), checkBox1_->isChecked(),
                            static_cast<uint16_t>(spinAddr_->value()));
}

void TFrmEventLog::Search() {
  // Creates the live file when it is missing, as every look at the log does.
  host_.Core().EventLog().RecordCount();
  Submit(true);
}

void TFrmEventLog::Resort() {
  // Rows still being read are put in order when they arrive.
  if (runningJob_ != 0 && runningRead_) return;
  if (runningJob_ == 0 && shownSortCol_ == SortCol && shownSortDesc_ == SortDesc) {
    ShowSortState();
    SelectRow();
    return;
  }
  Submit(false);
}

void TFrmEventLog::HeaderPressed(int column) {
  if (column < 0 || column >= kEventLogColumns) return;
  if (column == SortCol)
    SortDesc = !SortDesc;
  else
    SortCol = static_cast<uint8_t>(column);
  Resort();
}

void TFrmEventLog::Submit(bool read) {
  EventQueryWorker::Job job;
  job.Id = ++lastJob_;
  job.Read = read;
  job.Path = host_.Core().EventLog().FilePath();
  job.Filter = Filter();
  job.Rows = model_->Rows();
  job.SortCol = SortCol;
  job.SortDesc = SortDesc;
  job.Language = model_->Language();
  runningJob_ = job.Id;
  runningRead_ = read;
  SetBusy(true);
  worker_->Submit(std::move(job));
}

void TFrmEventLog::RowsArrived(uint64_t job, int sortCol, bool sortDesc, EventRows rows) {
  if (job != runningJob_) return;  // replaced by a newer search, or the log was cleared
  runningJob_ = 0;
  model_->SetRows(std::move(rows));
  shownSortCol_ = sortCol;
  shownSortDesc_ = sortDesc;
  // The operator changed the order while the rows were read.
  if (sortCol != SortCol || sortDesc != SortDesc) {
    Submit(false);
    return;
  }
  SetBusy(false);
  ShowSortState();
  SelectRow();
  emit rowsShown();
}

void TFrmEventLog::ShowSortState() {
  QHeaderView* header = grdEvntRec_->horizontalHeader();
  header->setSortIndicatorShown(true);
  header->setSortIndicator(shownSortCol_,
                           shownSortDesc_ ? Qt::DescendingOrder : Qt::AscendingOrder);
  const bool debug = host_.Ctx().comm.Debug.DbgShow != 0;
  if (debug)
    edt1_->setText(QString("FSortCol:%1    FSortDir: %2")
                       .arg(shownSortCol_)
                       .arg(shownSortDesc_ ? "DEC" : "ASC"));
  edt1_->setVisible(debug);
}

void TFrmEventLog::SelectRow() {
  const int rows = model_->rowCount();
  if (SelRow <= 0 || rows == 0) return;
  SelRow = std::min(SelRow, rows);
  const QModelIndex index = model_->index(SelRow - 1, 0);
  grdEvntRec_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  grdEvntRec_->scrollTo(index);
}

void TFrmEventLog::SetBusy(bool busy) {
  prgBusy_->setVisible(busy);
  if (busy)
    grdEvntRec_->setCursor(Qt::BusyCursor);
  else
    grdEvntRec_->unsetCursor();
}

void TFrmEventLog::EventAppended() {
  if (!tmr1_.isActive()) tmr1_.start();
}

void TFrmEventLog::RefreshTick() {
  tmr1_.stop();
  TEventLog& log = host_.Core().EventLog();
  if (log.Changed == 0) return;
  log.Changed = 0;
  SelRow = 1;
  SortDesc = false;
  Search();
}

void TFrmEventLog::ClearDatabase() {
  const uint8_t language = host_.Ctx().settings.Language;
  if (!prompter_.AskWarning(this, Tr(txt::EventClearCaption, language),
                            Tr(txt::EventClearQuestion, language)))
    return;
  // A search still running would show the records just deleted.
  worker_->Cancel(++lastJob_);
  runningJob_ = 0;
  SetBusy(false);
  host_.Core().EventLog().Clear();
  model_->SetRows({});
  emit rowsShown();
}

CsvTable TFrmEventLog::ExportTable() const {
  CsvTable table;
  const EventRows rows = model_->Rows();
  const uint8_t language = model_->Language();
  table.RowCount = rows->size() + 1;
  table.ColumnVisible.assign(kEventLogColumns, true);
  for (int c = 0; c < kEventLogColumns; ++c)
    table.ColumnVisible[c] = !grdEvntRec_->isColumnHidden(c);
  table.Cell = [rows, language, header = EventLogHeader(language)](std::size_t row,
                                                                   std::size_t column) {
    if (row == 0) return column < header.size() ? header[column] : std::string();
    return EventLogCell((*rows)[row - 1], static_cast<int>(column), language);
  };
  return table;
}

void TFrmEventLog::Export() {
  ExportGrid(this, prompter_, model_->Language(), ExportTable(), QStringLiteral("EventLog.csv"));
}

}  // namespace tessel
