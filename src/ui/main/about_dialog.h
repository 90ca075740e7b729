// The About window: names the program and its version, and is the hidden door to the Trace
// window (an access code typed into it, or four double clicks on the product line).
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;

namespace tessel {

class TraceSeam;

// Built at each opening and destroyed when it closes: the main window keeps it on the stack
// around exec(). It closes itself as soon as another window is activated.
class TFrmAbout : public QDialog {
  Q_OBJECT

 public:
  // `version` is shown after the product text (an empty version leaves "... Version ").
  // `trace` may be null; then the door only resets the window and closes it.
  TFrmAbout(uint8_t language, const QString& version, TraceSeam* trace, QWidget* parent = nullptr);
  ~TFrmAbout() override;

  // Typing these digits, with no other digit before them since the window opened or since the
  // last non-digit key, opens the Trace window.
  static constexpr const char* AccessCode = "40725319";
  // The buffer never holds more than this many digits at rest.
  static constexpr int MaxBufferLength = 10;
  // The double click that opens the Trace window.
  static constexpr int DblClicksToOpen = 4;

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* e) override;
  void changeEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void ApplyTexts();
  void OpenTrace();
  void ResetDoor();

  uint8_t language_;
  QString version_;
  TraceSeam* trace_;
  int dblClickCount_ = 0;  // FDblClickCount

  QLabel* productLine_;  // bsSkinStdLabel2
  QLabel* purpose_;
  QLabel* bus_;
  QLabel* lb1_;
  QLineEdit* edit1_;  // the access buffer; never shown
};

}  // namespace tessel
