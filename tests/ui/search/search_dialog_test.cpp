// The device search window over a real host whose port stays closed: the test plays the
// scheduler by calling the window's two hooks, and reads the lists, the grid and the device list.
#include "ui/search/search_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/device_list_file.h"
#include "host/host.h"
#include "log/temp_folder.h"
#include "ui/common/window_texts.h"
#include "ui/fake_prompter.h"
#include "ui/main/device_tree.h"
#include "ui/main/main_window.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

using testing::TempFolder;

class SearchDialogTest : public ::testing::Test {
 protected:
  // Devices 1, 2, 3 in the list; the port names nothing, so no tick steps the scheduler.
  void SetUp() override {
    std::ofstream(home_ / "UserParaIni.ini")
        << "[CommPort]\nComName=COM0\nProtocol=2\n[Language]\nLanguage=0\n";
    fs::create_directories(home_ / "Record");
    TEquipList list;
    for (int a = 1; a <= 3; ++a) {
      TEquipRec rec;
      rec.Addr = static_cast<uint8_t>(a);
      rec.Name = MakeNameField("UPS-" + std::to_string(a));
      AppendDevice(list, rec);
    }
    ASSERT_TRUE(SaveDeviceList(TreeFile(), list));
    host_ = std::make_unique<Host>(MakeProgramPaths(home_.Path().string()));
    window_ = std::make_unique<TFrmMain>(*host_, startPrompter_);
    host_->Start();
    dialog_ = std::make_unique<TFrmEquipSearch>(*host_, window_->Tree(), prompter_, window_.get());
    dialog_->show();
  }
  void TearDown() override {
    dialog_.reset();
    host_->Stop();
    window_.reset();
    host_.reset();
  }
  std::string TreeFile() const { return (home_ / "Record" / "TreeNode.dat").string(); }
  template <class T>
  T* Find(const char* name) const {
    T* found = dialog_->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  TCommMaster& Master() { return host_->Core().Master(); }
  void Click(const char* button) { Find<QPushButton>(button)->click(); }
  void SetRange(int from, int to) {
    Find<QSpinBox>("seAddrS")->setValue(1);
    Find<QSpinBox>("seAddrE")->setValue(to);
    Find<QSpinBox>("seAddrS")->setValue(from);
  }
  // Plays the scheduler through the whole range; answers come from the addresses in `answering`,
  // as often as they appear there.
  void RunSearch(const std::vector<int>& answering) {
    Click("btnSearch");
    ASSERT_TRUE(dialog_->Searching());
    while (Master().SearchMode()) {
      const uint8_t addr = dialog_->NextSearchAddress();
      for (int a : answering)
        if (a == addr && Master().SearchMode()) dialog_->DeviceFound(addr);
    }
  }
  void SelectFound(const QString& text) {
    auto* list = Find<QListWidget>("lstSearched");
    const auto items = list->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << text.toStdString();
    list->setCurrentItem(items[0]);
  }
  // Types a device into the blank last row, as the operator would.
  void TypeRow(const QString& addr, const QString& name) {
    auto* grid = Find<QTableWidget>("grdAppend");
    const int row = grid->rowCount() - 1;
    grid->setItem(row, 0, new QTableWidgetItem(addr));
    grid->setItem(row, 1, new QTableWidgetItem(name));
  }
  std::vector<std::pair<int, QString>> GridRows() const {
    auto* grid = Find<QTableWidget>("grdAppend");
    std::vector<std::pair<int, QString>> rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
      auto text = [&](int c) { return grid->item(r, c) ? grid->item(r, c)->text() : QString(); };
      rows.emplace_back(text(0).toInt(), text(1));
    }
    return rows;
  }
  std::vector<int> ListedAddresses() const {
    const TEquipList& list = host_->Ctx().model.EquipList;
    std::vector<int> out;
    for (int k = 1; k <= list.Count; ++k) out.push_back(list.Items[k].Addr);
    return out;
  }

  TempFolder home_;
  FakePrompter startPrompter_;
  FakePrompter prompter_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<TFrmMain> window_;
  std::unique_ptr<TFrmEquipSearch> dialog_;
};

TEST_F(SearchDialogTest, ProbesTheRangeOnceAndEndsWithTheFinishedText) {
  EXPECT_EQ(Find<QSpinBox>("seAddrS")->value(), 1);
  EXPECT_EQ(Find<QSpinBox>("seAddrE")->value(), 16);
  // The start cannot pass the end.
  Find<QSpinBox>("seAddrS")->setValue(40);
  EXPECT_EQ(Find<QSpinBox>("seAddrS")->value(), 16);

  SetRange(5, 5);
  Click("btnSearch");
  EXPECT_TRUE(Master().SearchMode());
  EXPECT_EQ(Find<QPushButton>("btnSearch")->text(), "Stop");
  auto* bar = Find<QProgressBar>("PrgBarSearch");
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->minimum(), 5);
  EXPECT_EQ(bar->maximum(), 5);
  EXPECT_FALSE(Find<QLabel>("txtFinished")->isVisible());

  EXPECT_EQ(dialog_->NextSearchAddress(), 5);
  EXPECT_TRUE(Master().SearchMode());
  dialog_->NextSearchAddress();  // past the end: the search ends itself
  EXPECT_FALSE(Master().SearchMode());
  EXPECT_EQ(Find<QPushButton>("btnSearch")->text(), "Search");
  EXPECT_FALSE(bar->isVisible());
  EXPECT_TRUE(Find<QLabel>("txtFinished")->isVisible());
  EXPECT_EQ(Find<QLabel>("txtFinished")->text(), "Search Completed !");

  // Stop ends it at once, without the finished text.
  Click("btnSearch");
  EXPECT_TRUE(Master().SearchMode());
  EXPECT_TRUE(Find<QLabel>("txtFinished")->text().isEmpty());
  Click("btnSearch");
  EXPECT_FALSE(Master().SearchMode());
  EXPECT_TRUE(Find<QLabel>("txtFinished")->text().isEmpty());
}

TEST_F(SearchDialogTest, FoundListIsAscendingWithoutRepeatsAndTakesOnlyProbeAnswers) {
  Click("btnSearch");
  // An answer to a list request still outstanding when the search started is not a find.
  dialog_->DeviceFound(2);
  Click("btnSearch");
  EXPECT_TRUE(dialog_->FoundAddresses().empty());

  RunSearch({12, 2, 7, 7, 3});
  EXPECT_EQ(dialog_->FoundAddresses(), (std::vector<int>{2, 3, 7, 12}));
  // A stray answer for an address other than the one being probed.
  Click("btnSearch");
  EXPECT_EQ(dialog_->NextSearchAddress(), 1);
  dialog_->DeviceFound(9);
  EXPECT_TRUE(dialog_->FoundAddresses().empty()) << "a new search starts an empty list";
  Click("btnSearch");
}

TEST_F(SearchDialogTest, PickingIntoTheGrid) {
  RunSearch({2, 3, 7, 12});
  auto* grid = Find<QTableWidget>("grdAppend");
  EXPECT_EQ(grid->rowCount(), 1);

  // ">" on a listed address: told, nothing changes.
  SelectFound("2");
  Click("btnSelect1");
  EXPECT_EQ(prompter_.LastTold(), "This address is already exists !");
  EXPECT_EQ(dialog_->DeviceRows(), 0);

  SelectFound("12");
  Click("btnSelect1");
  EXPECT_EQ(GridRows(), (std::vector<std::pair<int, QString>>{{12, "12"}, {0, ""}}));
  prompter_.Told.clear();
  Click("btnSelect1");
  EXPECT_EQ(prompter_.LastTold(), "You had appended this address to the list,not to append again");
  EXPECT_EQ(dialog_->DeviceRows(), 1);

  // ">>" starts over, skips the listed addresses silently and keeps the blank last row.
  prompter_.Told.clear();
  Click("btnSelectAll");
  EXPECT_TRUE(prompter_.Told.empty());
  EXPECT_EQ(GridRows(), (std::vector<std::pair<int, QString>>{{7, "7"}, {12, "12"}, {0, ""}}));

  // Typing into the blank row makes a device row and a new blank row.
  TypeRow("20", "Twenty");
  EXPECT_EQ(dialog_->DeviceRows(), 3);
  EXPECT_EQ(GridRows().back(), (std::pair<int, QString>{0, ""}));

  Click("btnClear");
  EXPECT_EQ(grid->rowCount(), 1);
}

TEST_F(SearchDialogTest, AppendRefusesTheWholeGridForOneBadRow) {
  const QString longName = "a" + QString(22, QChar(0x4E2D));  // 45 GBK bytes
  struct Case {
    const char* what;
    std::vector<std::pair<QString, QString>> rows;
    QString told;  // empty: appended
  };
  const Case cases[] = {
      {"no device", {}, "There are no equipment that can be appended"},
      {"one name emptied",
       {{"7", "Seven"}, {"8", ""}, {"9", "Nine"}},
       "Please set Equipment name for every Equipment in the list before append !"},
      {"not a number",
       {{"7", "Seven"}, {"x7", "X"}},
       "The address \"x7\" in row 2 is not valid: it must be a whole number from 1 to 252 !"},
      {"zero",
       {{"0", "Zero"}},
       "The address \"0\" in row 1 is not valid: it must be a whole "
       "number from 1 to 252 !"},
      {"above the bus",
       {{"253", "Far"}},
       "The address \"253\" in row 1 is not valid: it must be "
       "a whole number from 1 to 252 !"},
      {"already listed",
       {{"7", "Seven"}, {"2", "Two"}},
       "The address 2 in row 2 is already in the device list !"},
      {"repeated",
       {{"7", "Seven"}, {"07", "Again"}},
       "The address 7 in row 2 appears more than once in the list !"},
      {"unstorable name", {{"7", QString::fromUtf8("\xF0\x9F\x98\x80")}}, "*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    prompter_.Told.clear();
    Click("btnClear");
    for (const auto& [addr, name] : c.rows) TypeRow(addr, name);
    Click("btnAdd");
    ASSERT_EQ(prompter_.Told.size(), 1u);
    if (c.told != "*") {
      EXPECT_EQ(prompter_.LastTold(), c.told);
    }
    EXPECT_EQ(ListedAddresses(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(dialog_->DeviceRows(), static_cast<int>(c.rows.size())) << "the grid is kept";
  }

  // A good grid: appended in grid order, the long name cut on a character boundary, the file
  // written, the existing list refilled and the grid emptied.
  prompter_.Told.clear();
  Click("btnClear");
  TypeRow("12", "Twelve");
  TypeRow(" 7", longName);
  Click("btnAdd");
  EXPECT_TRUE(prompter_.Told.empty()) << prompter_.LastTold().toStdString();
  EXPECT_EQ(ListedAddresses(), (std::vector<int>{1, 2, 3, 12, 7}));
  const TEquipList& list = host_->Ctx().model.EquipList;
  EXPECT_EQ(QString::fromStdString(NameFieldText(list.Items[5].Name)),
            longName.left(20));  // "a" and 19 characters: 39 bytes
  TEquipList saved;
  LoadDeviceList(TreeFile(), saved);
  ASSERT_EQ(saved.Count, 5);
  EXPECT_EQ(saved.Items[4].Addr, 12);
  EXPECT_EQ(NameFieldText(saved.Items[4].Name), "Twelve");
  auto* exist = Find<QListWidget>("lstExist");
  QStringList shown;
  for (int i = 0; i < exist->count(); ++i) shown << exist->item(i)->text();
  EXPECT_EQ(shown, (QStringList{"1", "2", "3", "7", "12"}));
  EXPECT_EQ(dialog_->DeviceRows(), 0);
  EXPECT_TRUE(window_->Tree().IsAddressListed(7));
}

TEST_F(SearchDialogTest, ClosingDuringASearchIsRefusedAndDestructionLeavesTheScheduler) {
  EXPECT_EQ(Master().CurrentSearchHooks(), dialog_.get());
  Click("btnSearch");
  QTest::keyClick(dialog_.get(), Qt::Key_Escape);
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(prompter_.LastTold(), "Please stop search before close this forms !");
  prompter_.Told.clear();
  EXPECT_FALSE(dialog_->close());
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(prompter_.Told.size(), 1u);
  EXPECT_TRUE(Master().SearchMode());

  // Gone while searching (its owner went away): the scheduler is left neither searching nor
  // pointing at the window.
  dialog_.reset();
  EXPECT_FALSE(Master().SearchMode());
  EXPECT_EQ(Master().CurrentSearchHooks(), nullptr);

  // Idle, it closes at once.
  dialog_ = std::make_unique<TFrmEquipSearch>(*host_, window_->Tree(), prompter_, window_.get());
  dialog_->show();
  prompter_.Told.clear();
  QTest::keyClick(dialog_.get(), Qt::Key_Escape);
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_TRUE(prompter_.Told.empty());
}

}  // namespace
}  // namespace tessel
