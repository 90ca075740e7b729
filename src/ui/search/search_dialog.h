// The device search window: probes a range of bus addresses through the poll scheduler's search
// mode, lists the addresses that answered, and appends the picked ones, named, to the device list.
// It sends nothing itself; the scheduler asks it which address to probe next and tells it which
// address answered.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <vector>

#include "comm/comm_master.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace tessel {

class DeviceListSeam;
class Host;
class Prompter;

class TFrmEquipSearch : public QDialog, public SearchHooks {
  Q_OBJECT

 public:
  // tree is the main window's device tree over the host's EquipList.
  TFrmEquipSearch(Host& host, DeviceListSeam& tree, Prompter& prompter, QWidget* parent = nullptr);
  // Ends a running search and takes the window off the scheduler.
  ~TFrmEquipSearch() override;

  // SearchHooks: called by the scheduler while SearchMode is on.
  uint8_t NextSearchAddress() override;
  void DeviceFound(uint8_t address) override;

  bool Searching() const;
  // The addresses of the found list and of the device rows of the grid, as shown.
  std::vector<int> FoundAddresses() const;
  int DeviceRows() const;  // rows of the grid before its blank last row

 public slots:
  // Escape and the close box: refused while a search runs.
  void reject() override;

 private:
  void BuildLayout();
  void ApplySearchTexts();
  void FillExistingList();
  void UpdateSearchControls();
  void SearchClick();
  void SelectOneClick();
  void SelectAllClick();
  void ClearGrid();
  void AddClick();
  void SetMode(bool on);
  bool IsInAppendGrid(int addr) const;
  void FillBlankRow(int addr);
  void GridEdited(int row);

  Host& host_;
  DeviceListSeam& tree_;
  Prompter& prompter_;
  uint8_t language_;
  uint8_t FSearchAddr = 0;  // the address handed out last
  bool probing_ = false;    // FSearchAddr is being probed in the running search

  QGroupBox* grpSearch_;
  QGroupBox* grpRange_;
  QLabel* lblFrom_;
  QLabel* lblTo_;
  QSpinBox* seAddrS_;
  QSpinBox* seAddrE_;
  QPushButton* btnSearch_;
  QProgressBar* PrgBarSearch_;
  QLabel* txtFinished_;
  QGroupBox* grpSearched_;
  QListWidget* lstSearched_;
  QPushButton* btnSelect1_;
  QPushButton* btnSelectAll_;
  QLabel* lbEdit_;
  QPushButton* btnClear_;
  QTableWidget* grdAppend_;
  QPushButton* btnAdd_;
  QGroupBox* grpExist_;
  QListWidget* lstExist_;
};

}  // namespace tessel
