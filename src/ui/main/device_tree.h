// The device tree of the main window: one node per monitored device with its sub-nodes, the
// selection that the rest of the window follows, and the list operations that keep EquipList,
// the tree and the device list file in step.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <string>
#include <vector>

#include "app/device_list_file.h"
#include "model/ups_info.h"
#include "ui/common/device_list_seam.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace tessel {

class Prompter;

struct TNodeCaptionRec {
  std::array<QString, 10> Captions;
  int32_t CaptionCount = 0;
};

class DeviceTree : public QObject, public DeviceListSeam {
  Q_OBJECT

 public:
  // The page the window shows for a node: 0 real-time, 1 trend charts.
  static constexpr int kRealTimePage = 0;
  static constexpr int kTrendPage = 1;

  // tree is the window's TreeView1; list the program's EquipList; the file is written through the
  // core's save. backupDir receives a copy of a damaged file before it is first overwritten.
  DeviceTree(QTreeWidget* tree, TEquipList& list, std::string filePath, std::string backupDir,
             Prompter& prompter, QObject* parent = nullptr);

  // After the list was loaded at start-up: remember what the file held that the list lacks, so
  // that the first save asks before it writes a shorter file, and say so now.
  void NoteLoad(const DeviceListLoad& load, uint8_t language);

  void RebuildTree() override;
  void SetSubNodeCaptions(uint8_t language);
  // False when the change could not be written (the tree shows it nonetheless, and the operator
  // has been told).
  bool AddDevice(const TEquipRec& rec);
  bool DeleteSelectedDevice();
  bool RenameDevice(int nodeIndex, const std::array<uint8_t, kNameSize>& name);
  bool SaveDeviceList() override;

  // A device node's state from the display refresh: icon (0..3) and the name followed by the
  // state in brackets, or the bare name when state is empty. Touches only what changes.
  void ShowDeviceState(int pos, int image, const QString& state);
  int NodeImage(int pos) const;  // -1 for no such node

  int DevicePosOfNode(int nodeIndex) const;
  uint8_t SelectedDeviceAddr() const;
  bool IsAddressListed(uint8_t addr) const override;
  // The absolute index of a node in a depth-first walk of the tree, -1 for none.
  int AbsoluteIndex(const QTreeWidgetItem* item) const;
  QTreeWidgetItem* DeviceNode(int pos) const;  // 1-based list position
  // The entry whose device node has this absolute index (the node or one of its sub-nodes), or
  // null.
  const TEquipRec* EntryOfNode(int nodeIndex) const;
  int NodeIndexOf(int pos) const;  // full node index of a list position

  int FidxSelNode = -1;
  int FSelDevIdx = 0;
  uint8_t FSelDevAddr = 0;
  TNodeCaptionRec FNodeCaption;

 signals:
  void pageWanted(int page);

 private:
  void TreeClicked();

  QTreeWidget* tree_;
  TEquipList& list_;
  std::string filePath_;
  std::string backupDir_;
  Prompter& prompter_;
  uint8_t language_ = 0;
  std::vector<int> nodeIndex_;  // full node index by list position (index 0 unused)
  bool lossyFile_ = false;
};

// The text of a load report for the operator; empty when nothing was left out.
QString DeviceListLoadMessage(const DeviceListLoad& load, const std::string& path,
                              uint8_t language);

}  // namespace tessel
