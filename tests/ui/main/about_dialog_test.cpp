#include "ui/main/about_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "ui/common/trace_seam.h"

namespace tessel {
namespace {

struct FakeTrace : TraceSeam {
  bool Exists = true;
  int Shown = 0;
  int Hidden = 0;
  bool TraceExists() const override { return Exists; }
  void ShowTrace() override { ++Shown; }
  void HideTrace() override { ++Hidden; }
};

class AboutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    about.show();
    about.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&about));
  }

  QLabel* Label(const char* name) { return about.findChild<QLabel*>(name); }
  QString Buffer() { return about.findChild<QLineEdit*>("Edit1")->text(); }

  FakeTrace trace;
  TFrmAbout about{0, "1.2.3", &trace};
};

struct KeysCase {
  const char* keys;
  bool opens;
  const char* bufferAfter;  // when it does not open
};

TEST(AboutWindow, AccessCodeOpensTraceOnlyAsTheFirstDigitsSinceAClear) {
  const KeysCase cases[] = {
      {"40725319", true, ""},
      {"140725319", false, "140725319"},
      {"a40725319", true, ""},
      {"1a40725319", true, ""},
      {"1234567890", false, "1234567890"},
      {"12345678901", false, ""},         // the eleventh digit empties the buffer...
      {"1234567890140725319", true, ""},  // ...so the code right after it counts
      {"4072a5319", false, "5319"},
  };
  for (const KeysCase& c : cases) {
    SCOPED_TRACE(c.keys);
    FakeTrace t;
    TFrmAbout dlg(0, "1.2.3", &t);
    dlg.show();
    QTest::keyClicks(&dlg, c.keys);
    EXPECT_EQ(t.Shown, c.opens ? 1 : 0);
    EXPECT_EQ(dlg.isVisible(), !c.opens);
    EXPECT_EQ(dlg.findChild<QLineEdit*>("Edit1")->text(), QString(c.bufferAfter));
  }
}

TEST_F(AboutTest, KeysWithoutACharacterLeaveTheBufferAlone) {
  QTest::keyClicks(&about, "4072");
  QTest::keyClick(&about, Qt::Key_Shift);
  QTest::keyClick(&about, Qt::Key_Left);
  QTest::keyClicks(&about, "5319");
  EXPECT_EQ(trace.Shown, 1);
  EXPECT_FALSE(about.isVisible());
}

TEST(AboutWindow, WithoutTraceTheCodeOnlyClosesTheWindow) {
  TFrmAbout dlg(0, "1.2.3", nullptr);
  dlg.show();
  QTest::keyClicks(&dlg, "x40725319");
  EXPECT_FALSE(dlg.isVisible());
}

TEST_F(AboutTest, FourthDoubleClickOpensTrace) {
  QLabel* lb1 = Label("lb1");
  EXPECT_TRUE(lb1->isHidden());
  EXPECT_TRUE(lb1->text().isEmpty());
  for (const char* count : {"1", "2", "3"}) {
    QTest::mouseDClick(Label("bsSkinStdLabel2"), Qt::LeftButton);
    EXPECT_TRUE(lb1->isVisible());
    EXPECT_EQ(lb1->text(), count);
  }
  EXPECT_EQ(trace.Shown, 0);
  EXPECT_TRUE(about.isVisible());

  QTest::mouseDClick(Label("bsSkinStdLabel2"), Qt::LeftButton);
  EXPECT_EQ(trace.Shown, 1);
  EXPECT_FALSE(about.isVisible());
}

TEST_F(AboutTest, EscapeClosesWithoutTouchingTrace) {
  QTest::keyClicks(&about, "4072");
  QTest::keyClick(&about, Qt::Key_Escape);
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Rejected);
  EXPECT_TRUE(Buffer().isEmpty());
  EXPECT_EQ(trace.Shown + trace.Hidden, 0);
}

TEST_F(AboutTest, NonDigitHidesAnExistingTraceAndKeepsAboutOpen) {
  QTest::keyClick(&about, Qt::Key_Q);
  EXPECT_EQ(trace.Hidden, 1);
  EXPECT_TRUE(about.isVisible());

  trace.Exists = false;
  QTest::keyClick(&about, Qt::Key_Return);
  EXPECT_EQ(trace.Hidden, 1);
  EXPECT_TRUE(about.isVisible());
}

TEST(AboutWindow, ActivatingTheMainWindowClosesTheModalAbout) {
  QWidget mainWindow;
  mainWindow.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&mainWindow));
  FakeTrace trace;
  TFrmAbout dlg(0, "1.2.3", &trace, &mainWindow);
  bool wasActive = false;
  QTimer::singleShot(0, [&] {
    wasActive = QTest::qWaitForWindowActive(&dlg);
    QTest::keyClicks(&dlg, "4072");
    mainWindow.activateWindow();
  });
  // Should the window stay open, this ends exec() with a result the test rejects.
  QTimer::singleShot(5000, &dlg, &QDialog::accept);

  EXPECT_EQ(dlg.exec(), QDialog::Rejected);
  EXPECT_TRUE(wasActive);
  EXPECT_TRUE(dlg.findChild<QLineEdit*>("Edit1")->text().isEmpty());
  EXPECT_EQ(trace.Shown, 0);
}

TEST(AboutWindow, TextsFollowTheLanguage) {
  struct Case {
    uint8_t language;
    const char* version;
    const char* title;
    const char* productLine;
  };
  const Case cases[] = {
      {0, "1.2.3", "About", "PC Monitor Software Version 1.2.3"},
      {1, "1.2.3", "关于", "PC监控软件 Version 1.2.3"},
      {0, "", "About", "PC Monitor Software Version "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    TFrmAbout dlg(c.language, c.version, nullptr);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8(c.title));
    EXPECT_EQ(dlg.findChild<QLabel*>("bsSkinStdLabel2")->text(), QString::fromUtf8(c.productLine));
    EXPECT_EQ(dlg.size(), QSize(415, 217));
  }
}

}  // namespace
}  // namespace tessel
