#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>

#include "model/gbk.h"
#include "ui/common/window_texts.h"
#include "ui/fake_prompter.h"
#include "ui/main/new_equip_dialog.h"
#include "ui/main/property_dialog.h"

namespace tessel {
namespace {

constexpr uint8_t kEnglish = 0;
constexpr uint8_t kChinese = 1;

const std::string kBattery = "\xF0\x9F\x94\x8B";  // an emoji, outside GBK

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::string Bytes(const std::array<uint8_t, kNameSize>& f) {
  return std::string(f.begin(), f.end());
}

TEquipList ListOf(std::initializer_list<int> addrs) {
  TEquipList list;
  for (int a : addrs) {
    TEquipRec rec;
    rec.Addr = static_cast<uint8_t>(a);
    rec.Name = MakeNameField("UPS");
    AppendDevice(list, rec);
  }
  return list;
}

template <typename T>
T* Child(QWidget& w, const char* name) {
  T* c = w.findChild<T*>(name);
  EXPECT_NE(c, nullptr) << name;
  return c;
}

// Fills the add dialog and presses Append; an empty address text leaves the address unchosen.
void Append(TFrmNewEquip& dlg, const std::string& name, const QString& addr) {
  Child<QLineEdit>(dlg, "edtName")->setText(QString::fromStdString(name));
  auto* cbx = Child<QComboBox>(dlg, "cbxAddr");
  cbx->setCurrentIndex(addr.isEmpty() ? -1 : cbx->findText(addr));
  Child<QPushButton>(dlg, "btnAppend")->click();
}

TEST(TreeDialogs, AddressListOffersOnlyFreeAddressesAscendingWithNoneChosen) {
  FakePrompter prompter;
  TFrmNewEquip dlg(kEnglish, ListOf({5, 1, 252, 17}), prompter);
  auto* cbx = Child<QComboBox>(dlg, "cbxAddr");
  ASSERT_EQ(cbx->count(), 248);
  EXPECT_EQ(cbx->currentIndex(), -1);
  EXPECT_FALSE(cbx->isEditable());
  int previous = 0;
  for (int i = 0; i < cbx->count(); ++i) {
    const int addr = cbx->itemText(i).toInt();
    EXPECT_GT(addr, previous);
    EXPECT_TRUE(addr != 1 && addr != 5 && addr != 17 && addr != 252) << addr;
    previous = addr;
  }
  EXPECT_EQ(cbx->itemText(0), "2");
  EXPECT_EQ(cbx->itemText(cbx->count() - 1), "251");
}

TEST(TreeDialogs, AppendRefusesInOrderAndStaysOpen) {
  struct Case {
    std::string name;
    QString addr;
    UiText message;
  };
  const Case cases[] = {
      {"", "", txt::NewEquipNameEmpty},  // the empty name comes before the missing address
      {"", "3", txt::NewEquipNameEmpty},
      {std::string(41, 'x'), "", txt::EquipAddrEmpty},  // the address comes before the length
      {std::string(41, 'x'), "3", txt::EquipNameTooLong},
      {Repeat("电", 21), "3", txt::EquipNameTooLong},
      {std::string(41, 'x') + kBattery, "3", txt::EquipNameTooLong},
  };
  for (uint8_t language : {kEnglish, kChinese}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + " at " + c.addr.toStdString());
      FakePrompter prompter;
      TFrmNewEquip dlg(language, TEquipList{}, prompter);
      dlg.show();
      Append(dlg, c.name, c.addr);
      ASSERT_EQ(prompter.Told.size(), 1u);
      EXPECT_EQ(prompter.Told[0].Kind, MessageKind::Warning);
      EXPECT_EQ(prompter.LastTold(), Tr(c.message, language));
      EXPECT_TRUE(dlg.isVisible());
      EXPECT_EQ(dlg.Result().Addr, 0);
    }
  }
}

TEST(TreeDialogs, NameGbkCannotHoldIsRefusedAndNamed) {
  FakePrompter prompter;
  TFrmNewEquip dlg(kChinese, TEquipList{}, prompter);
  dlg.show();
  Append(dlg, "UPS" + kBattery, "9");
  EXPECT_EQ(prompter.LastTold(), QString::fromStdString("设备名含有无法保存的字符: " + kBattery));
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.Result().Addr, 0);
}

TEST(TreeDialogs, AppendStoresAddressAndPaddedNameField) {
  struct Case {
    std::string name;
    std::string field;  // the 40 bytes stored
  };
  const Case cases[] = {
      {Repeat("电", 20), Utf8ToGbk(Repeat("电", 20))},  // 40 GBK bytes: no padding at all
      {std::string(40, 'x'), std::string(40, 'x')},
      {"UPS-1", "UPS-1" + std::string(35, '\r')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePrompter prompter;
    TFrmNewEquip dlg(kEnglish, ListOf({1, 2}), prompter);
    dlg.show();
    Append(dlg, c.name, "200");
    EXPECT_TRUE(prompter.Told.empty()) << prompter.LastTold().toStdString();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.Result().Addr, 200);
    EXPECT_EQ(Bytes(dlg.Result().Name), c.field);
  }
}

TEST(TreeDialogs, TextsAndAccessibleNamesFollowTheLanguage) {
  FakePrompter prompter;
  TFrmNewEquip en(kEnglish, TEquipList{}, prompter);
  EXPECT_EQ(en.windowTitle(), "Append Equipment");
  EXPECT_EQ(Child<QPushButton>(en, "btnAppend")->text(), "Append");
  EXPECT_EQ(Child<QLineEdit>(en, "edtName")->accessibleName(), "Equipment Name");
  EXPECT_EQ(Child<QComboBox>(en, "cbxAddr")->accessibleName(), "Equipment Address");

  TEquipRec rec;
  rec.Addr = 7;
  TFrmProperty zh(kChinese, &rec, prompter);
  EXPECT_EQ(zh.windowTitle(), "设备属性");
  EXPECT_EQ(Child<QPushButton>(zh, "btnOk")->text(), "确定");
  EXPECT_EQ(Child<QPushButton>(zh, "btnCancel")->text(), "取消");
  EXPECT_EQ(Child<QLineEdit>(zh, "edtName")->accessibleName(), "设备名");
  EXPECT_EQ(Child<QLineEdit>(zh, "edtAddr")->accessibleName(), "设备地址");
}

TEST(TreeDialogs, AddDeviceByKeyboardAlone) {
  FakePrompter prompter;
  TFrmNewEquip dlg(kEnglish, ListOf({1}), prompter);
  dlg.show();
  dlg.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
  auto* edt = Child<QLineEdit>(dlg, "edtName");
  edt->setFocus();
  QTest::keyClicks(edt, "Rack 3");
  QTest::keyClick(&dlg, Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), Child<QComboBox>(dlg, "cbxAddr"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_TRUE(prompter.Told.empty()) << prompter.LastTold().toStdString();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.Result().Addr, 2);
  EXPECT_EQ(NameFieldText(dlg.Result().Name), "Rack 3");
}

TEST(TreeDialogs, PropertyShowsTheStoredNameAndAFixedAddress) {
  FakePrompter prompter;
  TEquipRec rec;
  rec.Addr = 17;
  rec.Name = MakeNameField("机房UPS");
  TFrmProperty dlg(kEnglish, &rec, prompter);
  EXPECT_EQ(Child<QLineEdit>(dlg, "edtName")->text(), "机房UPS");
  auto* addr = Child<QLineEdit>(dlg, "edtAddr");
  EXPECT_EQ(addr->text(), "17");
  EXPECT_FALSE(addr->isEnabled());

  TFrmProperty none(kEnglish, nullptr, prompter);
  EXPECT_EQ(Child<QLineEdit>(none, "edtName")->text(), "");
  EXPECT_EQ(Child<QLineEdit>(none, "edtAddr")->text(), "");
}

TEST(TreeDialogs, PropertyRefusesBadNamesAndStoresAGoodOne) {
  struct Case {
    std::string name;
    QString message;  // empty: accepted
  };
  TEquipRec rec;
  rec.Addr = 17;
  rec.Name = MakeNameField("old");
  for (uint8_t language : {kEnglish, kChinese}) {
    const Case cases[] = {
        {"", Tr(txt::PropertyNameEmpty, language)},
        {Repeat("电", 21), Tr(txt::EquipNameTooLong, language)},
        {"A" + kBattery, Tr(txt::EquipNameNotGbk, language).arg(QString::fromStdString(kBattery))},
        {std::string(40, 'y'), ""},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      FakePrompter prompter;
      TFrmProperty dlg(language, &rec, prompter);
      dlg.show();
      Child<QLineEdit>(dlg, "edtName")->setText(QString::fromStdString(c.name));
      Child<QPushButton>(dlg, "btnOk")->click();
      EXPECT_EQ(prompter.LastTold(), c.message);
      EXPECT_EQ(dlg.isVisible(), !c.message.isEmpty());
      if (c.message.isEmpty()) {
        EXPECT_EQ(Bytes(dlg.ResultName()), c.name);
      }
    }
  }
}

TEST(TreeDialogs, CancelLeavesNoResult) {
  FakePrompter prompter;
  TFrmNewEquip add(kEnglish, TEquipList{}, prompter);
  add.show();
  Child<QLineEdit>(add, "edtName")->setText("UPS");
  Child<QComboBox>(add, "cbxAddr")->setCurrentIndex(0);
  Child<QPushButton>(add, "btnCancel")->click();
  EXPECT_EQ(add.result(), QDialog::Rejected);
  EXPECT_FALSE(add.isVisible());
  EXPECT_EQ(add.Result().Addr, 0);

  TEquipRec rec;
  rec.Addr = 4;
  rec.Name = MakeNameField("old");
  TFrmProperty prop(kEnglish, &rec, prompter);
  prop.show();
  Child<QLineEdit>(prop, "edtName")->setText("new");
  Child<QPushButton>(prop, "btnCancel")->click();
  EXPECT_EQ(prop.result(), QDialog::Rejected);
  EXPECT_EQ(prop.ResultName(), (std::array<uint8_t, kNameSize>{}));
  EXPECT_TRUE(prompter.Told.empty());
}

}  // namespace
}  // namespace tessel
