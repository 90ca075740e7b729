// The Trace window against the simulator: a request typed by hand in Manual mode reaches the unit
// as typed (the unit decodes it and answers) and the answer shows in the receive memo.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "e2e_support.h"
#include "host/host.h"
#include "ui/trace/trace_window.h"

namespace tessel::e2e {
namespace {

TEST(Trace, HandTypedRequestIsAnsweredByTheUnit) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  auto sim = StartSim(2, "1", {}, link);
  ASSERT_FALSE(HasFailure());
  WriteSettings(home.Path(), link, 2);
  WriteDeviceList(home.Path(), {1});

  Host host(MakeProgramPaths(home.Path()));
  host.Start();
  ASSERT_TRUE(host.PortIsOpen());
  {
    TFrmCom trace(host);
    trace.ShowTrace();
    trace.findChild<QRadioButton*>("rbManual")->click();
    ASSERT_TRUE(host.Core().Master().ManualMode());
    // Let an answer to a request of automatic polling still on its way arrive first.
    WaitFor([] { return false; }, std::chrono::milliseconds(700));
    auto* rx = trace.findChild<QPlainTextEdit*>("MemoRx");
    rx->clear();
    const size_t before = sim->Lines().size();

    // Read the 28 holding registers from 40001 of unit 1, with its CRC.
    trace.findChild<QLineEdit*>("edtTx")->setText("01 03 9C 40 00 1C 6B 87");
    trace.findChild<QPushButton*>("btnMSend")->click();
    ASSERT_TRUE(WaitFor(
        [&] {
          for (size_t i = before; i < sim->Lines().size(); ++i)
            if (sim->Lines()[i].text.find("addr=1 fc=3 reg=40001 count=28 answered len=61") !=
                std::string::npos)
              return true;
          return false;
        },
        std::chrono::seconds(5)))
        << sim->Transcript();
    // 61 bytes: address, function, byte count 56, the registers, the CRC; each shown as "XX ".
    ASSERT_TRUE(
        WaitFor([&] { return rx->toPlainText().size() >= 61 * 3; }, std::chrono::seconds(5)))
        << rx->toPlainText().toStdString();
    EXPECT_TRUE(rx->toPlainText().startsWith("01 03 38 ")) << rx->toPlainText().toStdString();
    EXPECT_EQ(rx->toPlainText().trimmed().split(' ').size(), 61);
    trace.HideTrace();
    EXPECT_FALSE(host.Core().Master().ManualMode());
  }
  host.Stop();
}

}  // namespace
}  // namespace tessel::e2e
