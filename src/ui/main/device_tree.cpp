#include "ui/main/device_tree.h"

#include <QDateTime>
#include <QPainter>
#include <QPixmap>
#include <QStringList>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "ui/common/prompter.h"
#include "ui/common/window_texts.h"

namespace tessel {

namespace {

constexpr int kDeviceImage = 0;
constexpr int kSubNodeImage = 3;

constexpr int kImageRole = Qt::UserRole + 1;  // the icon a node shows, to compare cheaply
constexpr int kNameRole = Qt::UserRole + 2;   // the bare name, converted from GBK once per rebuild

// The tree's four 16 x 16 icons: 0 dark green ball, 1 bright green ball, 2 red ball, 3 page.
QIcon DrawTreeIcon(int image) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  if (image == kSubNodeImage) {
    p.setPen(QColor(90, 90, 90));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 1.5, 9, 13));
    for (int y = 5; y <= 11; y += 3) p.drawLine(QPointF(5.5, y + 0.5), QPointF(10.5, y + 0.5));
    return QIcon(pm);
  }
  const QColor colours[] = {QColor(0, 100, 0), QColor(40, 220, 40), QColor(220, 30, 30)};
  const QColor c = colours[std::clamp(image, 0, 2)];
  QRadialGradient g(QPointF(6, 6), 8);
  g.setColorAt(0, c.lighter(170));
  g.setColorAt(1, c);
  p.setPen(c.darker(150));
  p.setBrush(g);
  p.drawEllipse(QRectF(2, 2, 12, 12));
  return QIcon(pm);
}

// Drawn once: a refresh sets the icons of up to 252 nodes.
const QIcon& TreeIcon(int image) {
  static const std::array<QIcon, 4> icons = {DrawTreeIcon(0), DrawTreeIcon(1), DrawTreeIcon(2),
                                             DrawTreeIcon(3)};
  return icons[static_cast<size_t>(std::clamp(image, 0, 3))];
}

QString NameText(const TEquipRec& rec) {
  return QString::fromStdString(NameFieldText(rec.Name));
}

}  // namespace

QString DeviceListLoadMessage(const DeviceListLoad& load, const std::string& path,
                              uint8_t language) {
  const QString file = QString::fromStdString(path);
  if (!load.Readable) return Tr(txt::DeviceListUnreadable, language).arg(file);
  if (!load.Lossy()) return {};
  QStringList lines;
  const bool zh = IsChinese(language);
  for (const auto& s : load.Skips) {
    const QString why =
        s.Addr < 1 || s.Addr > kMaxAddr
            ? (zh ? QString("地址 %1 无效") : QString("address %1 is not 1..252"))
            : (zh ? QString("地址 %1 重复") : QString("address %1 is listed before"));
    lines << (zh ? QString("第 %1 条 \"%2\": %3") : QString("record %1 \"%2\": %3"))
                 .arg(s.Record)
                 .arg(QString::fromStdString(s.Name))
                 .arg(why.arg(s.Addr));
  }
  if (load.BeyondLimit > 0)
    lines << (zh ? QString("第 253 条起的 %1 条记录超出 252 台的上限")
                 : QString("%1 records after the 252nd, beyond the limit of 252 devices"))
                 .arg(load.BeyondLimit);
  if (load.PartialTail)
    lines << (zh ? QString("文件末尾有不完整的记录") : QString("an incomplete record at the end"));
  const int count =
      static_cast<int>(load.Skips.size()) + load.BeyondLimit + (load.PartialTail ? 1 : 0);
  return Tr(txt::DeviceListDamaged, language).arg(file).arg(count).arg(lines.join('\n'));
}

DeviceTree::DeviceTree(QTreeWidget* tree, TEquipList& list, std::string filePath,
                       std::string backupDir, Prompter& prompter, QObject* parent)
    : QObject(parent),
      tree_(tree),
      list_(list),
      filePath_(std::move(filePath)),
      backupDir_(std::move(backupDir)),
      prompter_(prompter) {
  connect(tree_, &QTreeWidget::itemClicked, this, &DeviceTree::TreeClicked);
  connect(tree_, &QTreeWidget::itemActivated, this, &DeviceTree::TreeClicked);
  // The highlight is the selection: arrow keys, Home/End, Page Up/Down and typing a name select
  // as a click does, so Delete, Property, the page, the charts and the control dialogs always act
  // on the device the operator sees highlighted.
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    if (current) TreeClicked();
  });
}

void DeviceTree::NoteLoad(const DeviceListLoad& load, uint8_t language) {
  language_ = language;
  lossyFile_ = load.Lossy();
  const QString message = DeviceListLoadMessage(load, filePath_, language);
  if (!message.isEmpty()) prompter_.Tell(tree_->window(), MessageKind::Warning, message);
}

void DeviceTree::SetSubNodeCaptions(uint8_t language) {
  language_ = language;
  FNodeCaption.Captions[0] = Tr(txt::SubNodeRealTime, language);
  FNodeCaption.Captions[1] = Tr(txt::SubNodeGraph, language);
  FNodeCaption.CaptionCount = 2;
  RebuildTree();
}

void DeviceTree::RebuildTree() {
  const QSignalBlocker block(tree_);
  tree_->clear();
  nodeIndex_.assign(static_cast<size_t>(list_.Count) + 1, -1);
  const int perDevice = 1 + FNodeCaption.CaptionCount;
  for (int k = 1; k <= list_.Count; ++k) {
    const QString name = NameText(list_.Items[k]);
    auto* node = new QTreeWidgetItem(tree_, QStringList{name});
    node->setData(0, kNameRole, name);
    node->setIcon(0, TreeIcon(kDeviceImage));
    node->setData(0, kImageRole, kDeviceImage);
    const int index = (k - 1) * perDevice;
    nodeIndex_[k] = index;
    list_.Items[k].NodeIndex = static_cast<uint8_t>(index & 0xFF);
    for (int c = 0; c < FNodeCaption.CaptionCount; ++c) {
      auto* sub = new QTreeWidgetItem(node, QStringList{FNodeCaption.Captions[c]});
      sub->setIcon(0, TreeIcon(kSubNodeImage));
    }
  }
  tree_->expandAll();

  if (list_.Count == 0) {
    FSelDevIdx = 0;
    FSelDevAddr = 0;
    FidxSelNode = -1;
    return;
  }
  FSelDevIdx = std::clamp(FSelDevIdx, 1, static_cast<int>(list_.Count));
  FSelDevAddr = list_.Items[FSelDevIdx].Addr;
  FidxSelNode = nodeIndex_[FSelDevIdx];
  tree_->setCurrentItem(DeviceNode(FSelDevIdx));
}

void DeviceTree::ShowDeviceState(int pos, int image, const QString& state) {
  QTreeWidgetItem* node = DeviceNode(pos);
  if (!node) return;
  const QString name = node->data(0, kNameRole).toString();
  const QString caption = state.isEmpty() ? name : name + "  (" + state + ")";
  if (node->text(0) != caption) node->setText(0, caption);
  if (node->data(0, kImageRole).toInt() != image) {
    node->setData(0, kImageRole, image);
    node->setIcon(0, TreeIcon(image));
  }
}

int DeviceTree::NodeImage(int pos) const {
  const QTreeWidgetItem* node = DeviceNode(pos);
  return node ? node->data(0, kImageRole).toInt() : -1;
}

QTreeWidgetItem* DeviceTree::DeviceNode(int pos) const {
  return pos >= 1 && pos <= list_.Count ? tree_->topLevelItem(pos - 1) : nullptr;
}

int DeviceTree::NodeIndexOf(int pos) const {
  return pos >= 1 && pos < static_cast<int>(nodeIndex_.size()) ? nodeIndex_[pos] : -1;
}

int DeviceTree::AbsoluteIndex(const QTreeWidgetItem* item) const {
  if (!item) return -1;
  const int perDevice = 1 + FNodeCaption.CaptionCount;
  if (const QTreeWidgetItem* parent = item->parent())
    return tree_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(parent)) * perDevice + 1 +
           parent->indexOfChild(const_cast<QTreeWidgetItem*>(item));
  return tree_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)) * perDevice;
}

int DeviceTree::DevicePosOfNode(int nodeIndex) const {
  const int perDevice = 1 + FNodeCaption.CaptionCount;
  if (nodeIndex < 0) return 0;
  const int deviceNode = nodeIndex - nodeIndex % perDevice;  // a sub-node's parent
  for (int k = 1; k <= list_.Count; ++k)
    if (NodeIndexOf(k) == deviceNode) return k;
  return 0;
}

const TEquipRec* DeviceTree::EntryOfNode(int nodeIndex) const {
  const int pos = DevicePosOfNode(nodeIndex);
  return pos ? &list_.Items[pos] : nullptr;
}

uint8_t DeviceTree::SelectedDeviceAddr() const {
  const int pos = DevicePosOfNode(AbsoluteIndex(tree_->currentItem()));
  return pos ? list_.Items[pos].Addr : 0;
}

bool DeviceTree::IsAddressListed(uint8_t addr) const {
  return FindDevice(list_, addr) != 0;
}

void DeviceTree::TreeClicked() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item) return;
  FidxSelNode = AbsoluteIndex(item);
  FSelDevIdx = DevicePosOfNode(FidxSelNode);
  FSelDevAddr = SelectedDeviceAddr();
  const bool graph = item->parent() && item->text(0) == FNodeCaption.Captions[1];
  emit pageWanted(graph ? kTrendPage : kRealTimePage);
}

bool DeviceTree::AddDevice(const TEquipRec& rec) {
  if (list_.Count >= kMaxDevices) return false;
  AppendDevice(list_, rec);
  RebuildTree();
  return SaveDeviceList();
}

bool DeviceTree::DeleteSelectedDevice() {
  if (list_.Count == 0 || FSelDevAddr == 0) return false;
  int kept = 0;
  for (int k = 1; k <= list_.Count; ++k)
    if (list_.Items[k].Addr != FSelDevAddr) list_.Items[++kept] = list_.Items[k];
  for (int k = kept + 1; k <= list_.Count; ++k) list_.Items[k] = TEquipRec{};
  list_.Count = static_cast<uint8_t>(kept);
  RebuildTree();
  return SaveDeviceList();
}

bool DeviceTree::RenameDevice(int nodeIndex, const std::array<uint8_t, kNameSize>& name) {
  for (int k = 1; k <= list_.Count; ++k) {
    if (NodeIndexOf(k) != nodeIndex) continue;
    list_.Items[k].Name = name;
    RebuildTree();
    return SaveDeviceList();
  }
  return false;
}

bool DeviceTree::SaveDeviceList() {
  namespace fs = std::filesystem;
  if (lossyFile_) {
    // The file holds devices the list could not take; keep a copy before it shrinks.
    const std::string copy =
        (fs::path(backupDir_) /
         ("TreeNode_" + QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss").toStdString() +
          ".dat"))
            .string();
    if (!prompter_.Ask(tree_->window(),
                       Tr(txt::DeviceListOverwrite, language_).arg(QString::fromStdString(copy))))
      return false;
    std::error_code ec;
    fs::create_directories(backupDir_, ec);
    if (fs::exists(filePath_, ec) && !fs::copy_file(filePath_, copy, ec)) {
      prompter_.Tell(tree_->window(), MessageKind::Error,
                     Tr(txt::DeviceListSaveFailed, language_)
                         .arg(QString::fromStdString(copy + ": " + ec.message())));
      return false;
    }
    lossyFile_ = false;
  }
  if (tessel::SaveDeviceList(filePath_, list_)) return true;
  prompter_.Tell(tree_->window(), MessageKind::Error,
                 Tr(txt::DeviceListSaveFailed, language_).arg(QString::fromStdString(filePath_)));
  return false;
}

}  // namespace tessel
