// The real message boxes behind the Prompter: a question whose Yes destroys data is a warning
// with its own caption and No pre-selected.
#include "ui/common/prompter.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace tessel {
namespace {

TEST(MessageBoxPrompter, WarningQuestionHasItsCaptionTheWarningIconAndNoPreselected) {
  MessageBoxPrompter prompter;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title, text, defaultText, noText;
  bool seen = false;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || seen) return;
    seen = true;
    icon = box->icon();
    title = box->windowTitle();
    text = box->text();
    if (box->defaultButton()) defaultText = box->defaultButton()->text();
    noText = box->button(QMessageBox::No)->text();
    box->button(QMessageBox::Yes)->click();
  });
  look.start(20);
  EXPECT_TRUE(prompter.AskWarning(nullptr, QStringLiteral("请确认"), QStringLiteral("Delete?")));
  ASSERT_TRUE(seen);
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(title, QStringLiteral("请确认"));
  EXPECT_EQ(text, "Delete?");
  EXPECT_EQ(defaultText, noText);
}

}  // namespace
}  // namespace tessel
