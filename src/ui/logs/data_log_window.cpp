#include "ui/logs/data_log_window.h"

#include <QCheckBox>
#include <QDate>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "host/host.h"
#include "ui/common/prompter.h"
#include "ui/logs/data_log_model.h"
#include "ui/logs/data_log_set_dialog.h"
#include "ui/logs/data_log_texts.h"
#include "ui/logs/del_data_rec_dialog.h"
#include "ui/logs/grid_export.h"

namespace tessel {

namespace {

QSpinBox* MakeSpin(QWidget* parent, const char* name, int lo, int hi) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(name);
  s->setRange(lo, hi);
  return s;
}

QPushButton* MakeButton(QWidget* parent, const char* name) {
  auto* b = new QPushButton(parent);
  b->setObjectName(name);
  return b;
}

}  // namespace

TFrmDataLog::TFrmDataLog(Host& host, Prompter& prompter, QWidget* parent)
    : QDialog(parent), host_(host), prompter_(prompter), language_(host.Ctx().settings.Language) {
  setObjectName("TFrmDataLog");

  rdDataViewMode_ = new QGroupBox(this);
  rdDataViewMode_->setObjectName("rdDataViewMode");
  rdMonth_ = new QRadioButton(rdDataViewMode_);
  rdMonth_->setObjectName("rdMonth");
  rdDate_ = new QRadioButton(rdDataViewMode_);
  rdDate_->setObjectName("rdDate");
  rdMonth_->setChecked(true);
  auto* modeLayout = new QHBoxLayout(rdDataViewMode_);
  modeLayout->addWidget(rdMonth_);
  modeLayout->addWidget(rdDate_);

  lblYear_ = new QLabel(this);
  spedtYearD_ = MakeSpin(this, "spedtYearD", 2000, 2100);
  lblMonth_ = new QLabel(this);
  spedtMonthD_ = MakeSpin(this, "spedtMonthD", 1, 12);
  lblDate_ = new QLabel(this);
  spedtDateD_ = MakeSpin(this, "spedtDateD", 1, 31);
  spedtDateD_->setEnabled(false);
  lblYear_->setBuddy(spedtYearD_);
  lblMonth_->setBuddy(spedtMonthD_);
  lblDate_->setBuddy(spedtDateD_);

  checkBox1_ = new QCheckBox(this);
  checkBox1_->setObjectName("CheckBox1");
  spinAddr_ = MakeSpin(this, "SpinAddr", 1, 254);
  spinAddr_->setValue(1);
  spinAddr_->setEnabled(false);

  btnSearch_ = MakeButton(this, "btnSearch");
  btnSearch_->setDefault(true);  // Enter in a spin edit runs the query
  btnRefresh_ = MakeButton(this, "btnRefresh");
  bsSkinButton2_ = MakeButton(this, "bsSkinButton2");
  bsSkinButton1_ = MakeButton(this, "bsSkinButton1");
  btnClearMonthData_ = MakeButton(this, "btnClearMonthData");

  edt1_ = new QLineEdit(this);
  edt1_->setObjectName("edt1");
  edt1_->setReadOnly(true);
  edt1_->setVisible(host.Ctx().comm.Debug.DbgShow != 0);

  lblBusy_ = new QLabel(this);
  lblBusy_->setObjectName("lblBusy");
  prgBusy_ = new QProgressBar(this);
  prgBusy_->setObjectName("prgBusy");
  prgBusy_->setMaximumWidth(200);
  btnStop_ = MakeButton(this, "btnStop");
  lblCount_ = new QLabel(this);
  lblCount_->setObjectName("lblCount");
  lblCount_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  model_ = new DataLogModel(language_, this);
  grdRecData_ = new QTableView(this);
  grdRecData_->setObjectName("grdRecData");
  grdRecData_->setModel(model_);
  grdRecData_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grdRecData_->setSelectionMode(QAbstractItemView::SingleSelection);
  grdRecData_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdRecData_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  grdRecData_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  grdRecData_->setWordWrap(false);
  grdRecData_->verticalHeader()->hide();  // no fixed column: the grid starts with the time
  grdRecData_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grdRecData_->verticalHeader()->setDefaultSectionSize(grdRecData_->fontMetrics().height() + 6);
  grdRecData_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grdRecData_->horizontalHeader()->setSectionsClickable(true);
  grdRecData_->viewport()->installEventFilter(this);
  grdRecData_->installEventFilter(this);

  runner_ = new DataLogJobRunner(this);
  busyTimer_ = new QTimer(this);
  busyTimer_->setInterval(200);
  connect(busyTimer_, &QTimer::timeout, this, &TFrmDataLog::UpdateBusy);

  // Layout: the period and address on top, the actions below, then the busy line and the grid.
  auto* period = new QHBoxLayout;
  period->addWidget(rdDataViewMode_);
  for (auto [label, spin] : {std::pair{lblYear_, spedtYearD_}, std::pair{lblMonth_, spedtMonthD_},
                             std::pair{lblDate_, spedtDateD_}}) {
    period->addWidget(spin);
    period->addWidget(label);
  }
  period->addSpacing(16);
  period->addWidget(checkBox1_);
  period->addWidget(spinAddr_);
  period->addStretch();
  period->addWidget(btnSearch_);
  period->addWidget(btnRefresh_);
  auto* actions = new QHBoxLayout;
  actions->addWidget(bsSkinButton2_);
  actions->addWidget(bsSkinButton1_);
  actions->addWidget(btnClearMonthData_);
  actions->addSpacing(16);
  actions->addWidget(lblBusy_);
  actions->addWidget(prgBusy_);
  actions->addWidget(btnStop_);
  actions->addStretch();
  actions->addWidget(lblCount_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(period);
  layout->addLayout(actions);
  layout->addWidget(edt1_);
  layout->addWidget(grdRecData_, 1);

  connect(rdMonth_, &QRadioButton::toggled, this, &TFrmDataLog::ModeChanged);
  connect(checkBox1_, &QCheckBox::toggled, spinAddr_, &QSpinBox::setEnabled);
  connect(btnSearch_, &QPushButton::clicked, this, &TFrmDataLog::RunQuery);
  connect(btnRefresh_, &QPushButton::clicked, this, &TFrmDataLog::RunQuery);
  connect(bsSkinButton2_, &QPushButton::clicked, this, &TFrmDataLog::OpenLogSetting);
  connect(bsSkinButton1_, &QPushButton::clicked, this, &TFrmDataLog::Export);
  connect(btnClearMonthData_, &QPushButton::clicked, this, &TFrmDataLog::OpenMonthDelete);
  connect(btnStop_, &QPushButton::clicked, this, &TFrmDataLog::StopJob);
  connect(grdRecData_->horizontalHeader(), &QHeaderView::sectionPressed, this,
          &TFrmDataLog::SortByColumn);

  const QDate today = QDate::currentDate();
  spedtYearD_->setValue(today.year());
  spedtMonthD_->setValue(today.month());
  spedtDateD_->setValue(today.day());

  ApplyTexts();
  ShowBusy(nullptr);

  // Wide enough to show all fifteen columns, as far as the screen allows.
  const int gridWidth = grdRecData_->horizontalHeader()->length() + 2 * grdRecData_->frameWidth() +
                        grdRecData_->verticalScrollBar()->sizeHint().width();
  const QMargins margins = layout->contentsMargins();
  int width = std::max(sizeHint().width(), gridWidth + margins.left() + margins.right());
  if (const QScreen* s = screen(); s != nullptr)
    width = std::min(width, s->availableGeometry().width() - 40);
  resize(width, 600);
}

TFrmDataLog::~TFrmDataLog() {
  // A query still reading the month is stopped before the grid it fills goes away.
  runner_->Cancel();
}

void TFrmDataLog::ApplyTexts() {
  const uint8_t l = language_;
  setWindowTitle(Tr(txt::DataLogTitle, l));
  rdDataViewMode_->setTitle(Tr(txt::SearchType, l));
  rdMonth_->setText(Tr(txt::SearchByMonth, l));
  rdDate_->setText(Tr(txt::SearchByDate, l));
  checkBox1_->setText(Tr(txt::SpecifyAddress, l));
  spinAddr_->setAccessibleName(Tr(txt::AddressName, l));
  lblYear_->setText(Tr(txt::YearLabel, l));
  lblMonth_->setText(Tr(txt::MonthLabel, l));
  lblDate_->setText(Tr(txt::DateLabel, l));
  spedtYearD_->setAccessibleName(Tr(txt::YearLabel, l));
  spedtMonthD_->setAccessibleName(Tr(txt::MonthLabel, l));
  spedtDateD_->setAccessibleName(Tr(txt::DateLabel, l));
  btnSearch_->setText(Tr(txt::SearchButton, l));
  btnRefresh_->setText(Tr(txt::RefreshButton, l));
  bsSkinButton2_->setText(Tr(txt::LogSettingButton, l));
  bsSkinButton1_->setText(Tr(txt::ExportButton, l));
  btnClearMonthData_->setText(Tr(txt::ClearMonthButton, l));
  btnStop_->setText(Tr(txt::StopQuery, l));
  grdRecData_->setAccessibleName(Tr(txt::DataLogGridName, l));

  // Wide enough for the time and for each title, so that every column can be read as it opens.
  QHeaderView* header = grdRecData_->horizontalHeader();
  const QFontMetrics headerFont(header->font());
  const QFontMetrics cellFont(grdRecData_->font());
  for (int c = 0; c < kDataLogColumns; ++c) {
    const QString title = model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    // Room for the title and the sort arrow beside it.
    int width = std::max(c == 0 ? 130 : 60, headerFont.horizontalAdvance(title) + 30);
    if (c == 0) width = std::max(width, cellFont.horizontalAdvance("0000-00-00 00:00:00") + 16);
    header->resizeSection(c, width);
  }
}

void TFrmDataLog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  RunQuery();
}

void TFrmDataLog::ModeChanged() {
  spedtDateD_->setEnabled(rdDate_->isChecked());
}

TRecFilter TFrmDataLog::CurrentFilter() const {
  return MakeDataLogFilter(
      host_.Paths().RecordDir, rdDate_->isChecked(), static_cast<uint16_t>(spedtYearD_->value()),
      static_cast<uint16_t>(spedtMonthD_->value()), static_cast<uint16_t>(spedtDateD_->value()),
      checkBox1_->isChecked(), static_cast<uint16_t>(spinAddr_->value()));
}

void TFrmDataLog::RunQuery() {
  runner_->Cancel();
  model_->SetRows(nullptr);
  grdRecData_->horizontalHeader()->setSortIndicatorShown(false);
  lastFilter_ = CurrentFilter();
  querying_ = true;
  ShowBusy(&txt::QueryRunning);
  runner_->Start(
      [filter = lastFilter_](DataLogJobControl& c) { return RunDataLogQuery(filter, c); },
      [this](std::shared_ptr<const DataLogRows> rows) {
        querying_ = false;
        model_->SetRows(std::move(rows));
        ShowBusy(nullptr);
      },
      [this](std::shared_ptr<const DataLogRows> first) {
        // The first matches of a large month while the rest is still being read.
        model_->SetRows(std::move(first));
        ShowCount();
      });
}

void TFrmDataLog::SortByColumn(int column) {
  if (column < 0 || column >= kDataLogColumns) return;
  if (querying_) return;  // the grid is still being filled
  if (column == sortCol_)
    sortDesc_ = !sortDesc_;
  else
    sortCol_ = static_cast<uint8_t>(column);
  if (!edt1_->isHidden())
    edt1_->setText(
        QString("FSortCol:%1    FSortDir: %2").arg(sortCol_).arg(sortDesc_ ? "DEC" : "ASC"));
  auto rows = model_->Rows();
  if (!rows || rows->Count() < 2) {
    grdRecData_->horizontalHeader()->setSortIndicator(
        sortCol_, sortDesc_ ? Qt::DescendingOrder : Qt::AscendingOrder);
    grdRecData_->horizontalHeader()->setSortIndicatorShown(true);
    return;
  }
  const int col = sortCol_;
  const bool desc = sortDesc_;
  ShowBusy(&txt::SortRunning);
  runner_->Start(
      [rows, col, desc](DataLogJobControl& c) { return SortDataLogRows(*rows, col, desc, c); },
      [this, col, desc](std::shared_ptr<const DataLogRows> sorted) {
        if (sorted) model_->SetRows(std::move(sorted));
        grdRecData_->horizontalHeader()->setSortIndicator(
            col, desc ? Qt::DescendingOrder : Qt::AscendingOrder);
        grdRecData_->horizontalHeader()->setSortIndicatorShown(true);
        ShowBusy(nullptr);
      });
}

void TFrmDataLog::StopJob() {
  runner_->Cancel();
  // A stopped query would leave only part of the month on view: show none of it rather than
  // a count that looks complete. A stopped sort leaves the rows in the order they had.
  if (querying_) model_->SetRows(nullptr);
  querying_ = false;
  ShowBusy(nullptr);
}

bool TFrmDataLog::Busy() const {
  return runner_->Busy() || model_->Growing();
}

void TFrmDataLog::ShowBusy(const UiText* what) {
  const bool busy = what != nullptr;
  lblBusy_->setText(busy ? Tr(*what, language_) : QString());
  lblBusy_->setVisible(busy);
  prgBusy_->setVisible(busy);
  btnStop_->setVisible(busy);
  bsSkinButton1_->setEnabled(!busy);
  if (busy) {
    prgBusy_->setRange(0, 0);
    busyTimer_->start();
  } else {
    busyTimer_->stop();
  }
  ShowCount();
}

void TFrmDataLog::UpdateBusy() {
  const int percent = runner_->Percent();
  if (percent < 0) {
    prgBusy_->setRange(0, 0);
  } else {
    prgBusy_->setRange(0, 100);
    prgBusy_->setValue(percent);
  }
}

void TFrmDataLog::ShowCount() {
  // No count while a query still reads: the rows shown so far are only the first ones.
  const std::size_t count = model_->Rows() ? model_->Rows()->Count() : 0;
  lblCount_->setText(querying_ ? QString() : Tr(txt::RowsFound, language_).arg(count));
}

CsvTable TFrmDataLog::ExportTable() const {
  CsvTable table;
  const QHeaderView* header = grdRecData_->horizontalHeader();
  GridRow titles = DataLogHeader(language_);
  std::vector<int> columns;  // logical columns in the order shown
  table.ColumnVisible.assign(kDataLogColumns, false);
  for (int v = 0; v < kDataLogColumns; ++v) {
    const int logical = header->logicalIndex(v);
    columns.push_back(logical);
    table.ColumnVisible[static_cast<std::size_t>(v)] =
        !header->isSectionHidden(logical) && header->sectionSize(logical) > 0;
  }
  auto rows = model_->Rows();
  table.RowCount = 1 + (rows ? rows->Count() : 0);
  table.Cell = [rows, titles = std::move(titles), columns](std::size_t row, std::size_t column) {
    const int logical = columns[column];
    if (row == 0) return titles[static_cast<std::size_t>(logical)];
    return DataLogCell(rows->Record(row - 1), logical);
  };
  return table;
}

void TFrmDataLog::Export() {
  QString name = QString::fromStdString("DataLog" + std::to_string(lastFilter_.Year) + "_" +
                                        (lastFilter_.Month < 10 ? "0" : "") +
                                        std::to_string(lastFilter_.Month));
  if (lastFilter_.Day != 0) name += QString("_%1").arg(lastFilter_.Day, 2, 10, QChar('0'));
  ExportGrid(this, prompter_, language_, ExportTable(), name + ".csv");
}

void TFrmDataLog::OpenLogSetting() {
  TFrmDataLogSet dialog(host_, this);
  dialog.exec();
}

void TFrmDataLog::OpenMonthDelete() {
  // The grid lets go of the month file first, so that a month on view can be deleted where an
  // open file cannot; the query runs again when the dialog closes.
  runner_->Cancel();
  querying_ = false;
  model_->SetRows(nullptr);
  ShowBusy(nullptr);
  TFrmDelDataRec dialog(language_, host_.Paths().RecordDir, prompter_, this);
  dialog.exec();
  RunQuery();
}

bool TFrmDataLog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == grdRecData_->viewport() && event->type() == QEvent::MouseButtonPress) {
    // A press on any data cell sorts by its column, as a press on the header does.
    auto* press = static_cast<QMouseEvent*>(event);
    if (press->button() != Qt::RightButton) {
      const QModelIndex index = grdRecData_->indexAt(press->position().toPoint());
      if (index.isValid()) SortByColumn(index.column());
    }
  } else if (watched == grdRecData_ && event->type() == QEvent::KeyPress) {
    // The keyboard's way to the same: Enter sorts by the current cell's column.
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        grdRecData_->currentIndex().isValid()) {
      SortByColumn(grdRecData_->currentIndex().column());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tessel
