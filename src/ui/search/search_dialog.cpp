#include "ui/search/search_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>
#include <string>

#include "host/host.h"
#include "model/device_name.h"
#include "model/ups_info.h"
#include "ui/common/device_list_seam.h"
#include "ui/common/device_name_field.h"
#include "ui/common/prompter.h"
#include "ui/common/window_texts.h"

namespace tessel {

namespace {

constexpr int kDefaultEnd = 16;
constexpr int kAddrColumnWidth = 64;
constexpr int kNameColumnWidth = 117;

QString CellText(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  return item ? item->text() : QString();
}

// A bus address typed into the grid: a whole number 1..252, else 0.
int ParseAddress(const QString& text) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok);
  return ok && value >= 1 && value <= kMaxAddr ? value : 0;
}

void InsertSorted(QListWidget* list, int value) {
  int at = 0;
  while (at < list->count() && list->item(at)->text().toInt() < value) ++at;
  list->insertItem(at, QString::number(value));
}

}  // namespace

TFrmEquipSearch::TFrmEquipSearch(Host& host, DeviceListSeam& tree, Prompter& prompter,
                                 QWidget* parent)
    : QDialog(parent),
      host_(host),
      tree_(tree),
      prompter_(prompter),
      language_(host.Ctx().settings.Language) {
  setObjectName("TFrmEquipSearch");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  BuildLayout();

  seAddrE_->setRange(1, kMaxAddr);
  seAddrE_->setValue(kDefaultEnd);
  seAddrS_->setRange(1, kDefaultEnd);
  seAddrS_->setValue(1);
  // The start never passes the end.
  connect(seAddrS_, &QSpinBox::valueChanged, this, [this](int v) { seAddrE_->setMinimum(v); });
  connect(seAddrE_, &QSpinBox::valueChanged, this, [this](int v) { seAddrS_->setMaximum(v); });

  connect(btnSearch_, &QPushButton::clicked, this, &TFrmEquipSearch::SearchClick);
  connect(btnSelect1_, &QPushButton::clicked, this, &TFrmEquipSearch::SelectOneClick);
  connect(btnSelectAll_, &QPushButton::clicked, this, &TFrmEquipSearch::SelectAllClick);
  connect(btnClear_, &QPushButton::clicked, this, &TFrmEquipSearch::ClearGrid);
  connect(btnAdd_, &QPushButton::clicked, this, &TFrmEquipSearch::AddClick);
  connect(grdAppend_, &QTableWidget::itemChanged, this,
          [this](QTableWidgetItem* item) { GridEdited(item->row()); });

  FillExistingList();
  ClearGrid();
  ApplySearchTexts();
  txtFinished_->clear();

  host_.CatchUp();
  host_.Core().Master().SetSearchHooks(this);
  host_.Rearm();
  UpdateSearchControls();
}

TFrmEquipSearch::~TFrmEquipSearch() {
  // Whatever way the window goes, the scheduler must not go on asking it.
  host_.CatchUp();
  TCommMaster& master = host_.Core().Master();
  if (master.CurrentSearchHooks() == this) {
    master.SetSearchMode(false);
    master.SetSearchHooks(nullptr);
  }
  host_.Rearm();
}

void TFrmEquipSearch::BuildLayout() {
  grpSearch_ = new QGroupBox(this);
  grpSearch_->setObjectName("grpSearch");
  grpRange_ = new QGroupBox(grpSearch_);
  grpRange_->setObjectName("grpRange");
  lblFrom_ = new QLabel(grpRange_);
  lblFrom_->setObjectName("lblFrom");
  seAddrS_ = new QSpinBox(grpRange_);
  seAddrS_->setObjectName("seAddrS");
  lblTo_ = new QLabel(grpRange_);
  lblTo_->setObjectName("lblTo");
  seAddrE_ = new QSpinBox(grpRange_);
  seAddrE_->setObjectName("seAddrE");
  lblFrom_->setBuddy(seAddrS_);
  lblTo_->setBuddy(seAddrE_);
  auto* range = new QHBoxLayout(grpRange_);
  range->addWidget(lblFrom_);
  range->addWidget(seAddrS_);
  range->addSpacing(12);
  range->addWidget(lblTo_);
  range->addWidget(seAddrE_);
  range->addStretch();

  btnSearch_ = new QPushButton(grpSearch_);
  btnSearch_->setObjectName("btnSearch");
  PrgBarSearch_ = new QProgressBar(grpSearch_);
  PrgBarSearch_->setObjectName("PrgBarSearch");
  txtFinished_ = new QLabel(grpSearch_);
  txtFinished_->setObjectName("txtFinished");
  auto* search = new QGridLayout(grpSearch_);
  search->addWidget(grpRange_, 0, 0);
  search->addWidget(btnSearch_, 0, 1, Qt::AlignBottom);
  // The progress bar and the finished text share one place; only one of them shows.
  search->addWidget(PrgBarSearch_, 1, 0, 1, 2);
  search->addWidget(txtFinished_, 1, 0, 1, 2);
  search->setColumnStretch(0, 1);

  grpSearched_ = new QGroupBox(this);
  grpSearched_->setObjectName("grpSearched");
  lstSearched_ = new QListWidget(grpSearched_);
  lstSearched_->setObjectName("lstSearched");
  (new QVBoxLayout(grpSearched_))->addWidget(lstSearched_);

  grpExist_ = new QGroupBox(this);
  grpExist_->setObjectName("grpExist");
  lstExist_ = new QListWidget(grpExist_);
  lstExist_->setObjectName("lstExist");
  (new QVBoxLayout(grpExist_))->addWidget(lstExist_);
  for (QListWidget* list : {lstSearched_, lstExist_}) list->setFixedWidth(90);

  btnSelect1_ = new QPushButton(">", this);
  btnSelect1_->setObjectName("btnSelect1");
  btnSelectAll_ = new QPushButton(">>", this);
  btnSelectAll_->setObjectName("btnSelectAll");
  lbEdit_ = new QLabel(this);
  lbEdit_->setObjectName("lbEdit");
  btnClear_ = new QPushButton(this);
  btnClear_->setObjectName("btnClear");
  grdAppend_ = new QTableWidget(0, 2, this);
  grdAppend_->setObjectName("grdAppend");
  grdAppend_->setColumnWidth(0, kAddrColumnWidth);
  grdAppend_->setColumnWidth(1, kNameColumnWidth);
  grdAppend_->horizontalHeader()->setStretchLastSection(true);  // names get the spare width
  grdAppend_->setSelectionMode(QAbstractItemView::SingleSelection);
  grdAppend_->verticalHeader()->setDefaultSectionSize(22);
  grdAppend_->setMinimumWidth(kAddrColumnWidth + kNameColumnWidth + 60);
  lbEdit_->setBuddy(grdAppend_);
  btnAdd_ = new QPushButton(this);
  btnAdd_->setObjectName("btnAdd");

  auto* pick = new QHBoxLayout;
  pick->addWidget(btnSelect1_);
  pick->addWidget(btnSelectAll_);
  pick->addStretch();
  auto* edit = new QHBoxLayout;
  edit->addWidget(lbEdit_);
  edit->addStretch();
  edit->addWidget(btnClear_);
  auto* add = new QHBoxLayout;
  add->addStretch();
  add->addWidget(btnAdd_);
  auto* middle = new QVBoxLayout;
  middle->addLayout(pick);
  middle->addLayout(edit);
  middle->addWidget(grdAppend_, 1);
  middle->addLayout(add);

  auto* lower = new QHBoxLayout;
  lower->addWidget(grpSearched_);
  lower->addLayout(middle, 1);
  lower->addWidget(grpExist_);

  auto* top = new QVBoxLayout(this);
  top->addWidget(grpSearch_);
  top->addLayout(lower, 1);
  top->setSizeConstraint(QLayout::SetFixedSize);
  setMinimumHeight(420);

  setTabOrder(seAddrS_, seAddrE_);
  setTabOrder(seAddrE_, btnSearch_);
  setTabOrder(btnSearch_, lstSearched_);
  setTabOrder(lstSearched_, btnSelect1_);
  setTabOrder(btnSelect1_, btnSelectAll_);
  setTabOrder(btnSelectAll_, btnClear_);
  setTabOrder(btnClear_, grdAppend_);
  setTabOrder(grdAppend_, btnAdd_);
  setTabOrder(btnAdd_, lstExist_);
}

void TFrmEquipSearch::ApplySearchTexts() {
  setWindowTitle(Tr(txt::SearchTitle, language_));
  grpSearch_->setTitle(Tr(txt::SearchNetwork, language_));
  grpRange_->setTitle(Tr(txt::SearchRange, language_));
  LabelField(lblFrom_, seAddrS_, Tr(txt::SearchFrom, language_));
  LabelField(lblTo_, seAddrE_, Tr(txt::SearchTo, language_));
  PrgBarSearch_->setAccessibleName(Tr(txt::SearchProgress, language_));
  grpSearched_->setTitle(Tr(txt::SearchFound, language_));
  lstSearched_->setAccessibleName(Tr(txt::SearchFound, language_).remove(':'));
  grpExist_->setTitle(Tr(txt::SearchExisting, language_));
  lstExist_->setAccessibleName(Tr(txt::SearchExisting, language_));
  btnSelect1_->setToolTip(Tr(txt::SearchPickOneHint, language_));
  btnSelectAll_->setToolTip(Tr(txt::SearchPickAllHint, language_));
  lbEdit_->setText(Tr(txt::SearchNameEdit, language_));
  btnClear_->setText(Tr(txt::SearchClear, language_));
  btnAdd_->setText(Tr(txt::SearchAppend, language_));
  grdAppend_->setHorizontalHeaderLabels(
      {Tr(txt::SearchAddrColumn, language_), Tr(txt::SearchNameColumn, language_)});
  grdAppend_->setAccessibleName(Tr(txt::SearchGrid, language_));
  if (!txtFinished_->text().isEmpty()) txtFinished_->setText(Tr(txt::SearchFinished, language_));
}

void TFrmEquipSearch::FillExistingList() {
  const TEquipList& list = host_.Ctx().model.EquipList;
  std::vector<int> addrs;
  for (int k = 1; k <= list.Count; ++k) addrs.push_back(list.Items[k].Addr);
  std::stable_sort(addrs.begin(), addrs.end());
  lstExist_->clear();
  for (int a : addrs) lstExist_->addItem(QString::number(a));
}

bool TFrmEquipSearch::Searching() const {
  return host_.Core().Master().SearchMode() &&
         host_.Core().Master().CurrentSearchHooks() == static_cast<const SearchHooks*>(this);
}

void TFrmEquipSearch::UpdateSearchControls() {
  const bool on = Searching();
  btnSearch_->setText(Tr(on ? txt::SearchStop : txt::SearchStart, language_));
  PrgBarSearch_->setVisible(on);
  txtFinished_->setVisible(!on);
  if (on) {
    PrgBarSearch_->setValue(FSearchAddr);
    // The address being probed and the last one of the range.
    PrgBarSearch_->setFormat("%v / " + QString::number(PrgBarSearch_->maximum()));
  }
}

void TFrmEquipSearch::SetMode(bool on) {
  host_.Core().Master().SetSearchMode(on);
}

void TFrmEquipSearch::SearchClick() {
  host_.CatchUp();  // a late tick may have ended the search already
  if (Searching()) {
    SetMode(false);
  } else {
    SetMode(true);
    FSearchAddr = static_cast<uint8_t>(seAddrS_->value() - 1);
    probing_ = false;
    PrgBarSearch_->setRange(seAddrS_->value(), seAddrE_->value());
    lstSearched_->clear();
    txtFinished_->clear();
  }
  UpdateSearchControls();
  host_.Rearm();
}

uint8_t TFrmEquipSearch::NextSearchAddress() {
  ++FSearchAddr;
  probing_ = true;
  if (FSearchAddr > seAddrE_->value()) {
    SetMode(false);  // inside the scheduler's step: no catching up around it
    probing_ = false;
    txtFinished_->setText(Tr(txt::SearchFinished, language_));
  } else {
    PrgBarSearch_->setMaximum(seAddrE_->value());
  }
  UpdateSearchControls();
  return FSearchAddr;
}

void TFrmEquipSearch::DeviceFound(uint8_t address) {
  // Only an answer to this search's probe counts: the scheduler reports any accepted answer while
  // the mode is on, including one to a device-list request that was still outstanding when the
  // search started.
  if (!probing_ || address != FSearchAddr) return;
  const QString text = QString::number(address);
  if (!lstSearched_->findItems(text, Qt::MatchExactly).isEmpty()) return;
  InsertSorted(lstSearched_, address);
  lstSearched_->setCurrentRow(0);
}

std::vector<int> TFrmEquipSearch::FoundAddresses() const {
  std::vector<int> out;
  for (int i = 0; i < lstSearched_->count(); ++i)
    out.push_back(lstSearched_->item(i)->text().toInt());
  return out;
}

int TFrmEquipSearch::DeviceRows() const {
  return grdAppend_->rowCount() - 1;
}

bool TFrmEquipSearch::IsInAppendGrid(int addr) const {
  for (int row = 0; row < DeviceRows(); ++row)
    if (ParseAddress(CellText(grdAppend_, row, 0)) == addr) return true;
  return false;
}

void TFrmEquipSearch::FillBlankRow(int addr) {
  const QSignalBlocker block(grdAppend_);
  const int row = grdAppend_->rowCount() - 1;
  grdAppend_->setItem(row, 0, new QTableWidgetItem(QString::number(addr)));
  grdAppend_->setItem(row, 1, new QTableWidgetItem(QString::number(addr)));
  grdAppend_->insertRow(row + 1);
}

void TFrmEquipSearch::GridEdited(int row) {
  // Typing into the blank last row makes it a device row; a new blank row follows it.
  if (row != grdAppend_->rowCount() - 1) return;
  if (CellText(grdAppend_, row, 0).isEmpty() && CellText(grdAppend_, row, 1).isEmpty()) return;
  const QSignalBlocker block(grdAppend_);
  grdAppend_->insertRow(row + 1);
}

void TFrmEquipSearch::SelectOneClick() {
  QListWidgetItem* item = lstSearched_->currentItem();
  if (!item || !item->isSelected()) return;
  const int addr = item->text().toInt();
  if (tree_.IsAddressListed(static_cast<uint8_t>(addr))) {
    prompter_.Tell(this, MessageKind::Information, Tr(txt::SearchAlreadyListed, language_));
  } else if (IsInAppendGrid(addr)) {
    prompter_.Tell(this, MessageKind::Information, Tr(txt::SearchAlreadyInGrid, language_));
  } else {
    FillBlankRow(addr);
  }
}

void TFrmEquipSearch::SelectAllClick() {
  if (lstSearched_->count() == 0) return;
  ClearGrid();
  for (int addr : FoundAddresses())
    if (!tree_.IsAddressListed(static_cast<uint8_t>(addr))) FillBlankRow(addr);
}

void TFrmEquipSearch::ClearGrid() {
  const QSignalBlocker block(grdAppend_);
  grdAppend_->setRowCount(0);
  grdAppend_->setRowCount(1);
}

void TFrmEquipSearch::AddClick() {
  struct Row {
    int number;  // as the grid's row header shows it
    QString addrText;
    QString name;
  };
  std::vector<Row> rows;
  for (int row = 0; row < DeviceRows(); ++row) {
    Row r{row + 1, CellText(grdAppend_, row, 0), CellText(grdAppend_, row, 1)};
    if (r.addrText.trimmed().isEmpty() && r.name.isEmpty()) continue;  // emptied by the operator
    rows.push_back(r);
  }
  auto refuse = [this](const QString& text) {
    prompter_.Tell(this, MessageKind::Information, text);
  };
  if (rows.empty()) return refuse(Tr(txt::SearchNoDevice, language_));
  for (const Row& r : rows)
    if (r.name.isEmpty()) return refuse(Tr(txt::SearchEmptyName, language_));

  // Every address must be one the bus can carry and new to the list; one bad row refuses all.
  std::set<int> seen;
  std::vector<TEquipRec> recs;
  for (const Row& r : rows) {
    const int addr = ParseAddress(r.addrText);
    if (addr == 0) return refuse(Tr(txt::SearchBadAddr, language_).arg(r.number).arg(r.addrText));
    if (tree_.IsAddressListed(static_cast<uint8_t>(addr)))
      return refuse(Tr(txt::SearchRowListed, language_).arg(r.number).arg(addr));
    if (!seen.insert(addr).second)
      return refuse(Tr(txt::SearchRowRepeated, language_).arg(r.number).arg(addr));
    const std::string name = r.name.toStdString();
    const NameCheckResult check = CheckDeviceName(name);
    if (check.Verdict == NameCheck::NotGbk) return refuse(NameRefusal(check, language_));
    TEquipRec rec;
    rec.Addr = static_cast<uint8_t>(addr);
    rec.Name = MakeNameField(name);  // a longer name keeps its first 40 bytes, whole characters
    recs.push_back(rec);
  }

  host_.CatchUp();
  TEquipList& list = host_.Ctx().model.EquipList;
  for (const TEquipRec& rec : recs)
    if (!AppendDevice(list, rec)) break;
  tree_.RebuildTree();
  tree_.SaveDeviceList();  // a failure is told there; the list and tree hold the devices
  host_.Rearm();

  FillExistingList();
  ClearGrid();
}

void TFrmEquipSearch::reject() {
  host_.CatchUp();
  const bool searching = Searching();
  host_.Rearm();
  if (searching) {
    prompter_.Tell(this, MessageKind::Information, Tr(txt::SearchStopFirst, language_));
    return;
  }
  QDialog::reject();
}

}  // namespace tessel
