#include "ui/main/about_dialog.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/common/trace_seam.h"
#include "ui/common/window_texts.h"

namespace tessel {

namespace {

// Between the product text and the version, in both languages.
constexpr char kVersionInfix[] = " Version ";

}  // namespace

TFrmAbout::TFrmAbout(uint8_t language, const QString& version, TraceSeam* trace, QWidget* parent)
    : QDialog(parent), language_(language), version_(version), trace_(trace) {
  setObjectName("TFrmAbout");
  setFixedSize(415, 217);

  auto* panel = new QFrame(this);
  panel->setObjectName("pnlAbout");
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setFrameShadow(QFrame::Sunken);

  productLine_ = new QLabel(panel);
  productLine_->setObjectName("bsSkinStdLabel2");
  productLine_->setAlignment(Qt::AlignCenter);
  productLine_->setWordWrap(true);  // a long version string wraps instead of being cut off
  QFont productFont = productLine_->font();
  productFont.setBold(true);
  productFont.setPointSizeF(productFont.pointSizeF() + 3);
  productLine_->setFont(productFont);
  productLine_->installEventFilter(this);

  purpose_ = new QLabel(panel);
  purpose_->setObjectName("lbPurpose");
  purpose_->setAlignment(Qt::AlignCenter);
  bus_ = new QLabel(panel);
  bus_->setObjectName("lbBus");
  bus_->setAlignment(Qt::AlignCenter);

  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(12, 12, 12, 12);
  panelLayout->addStretch(2);
  panelLayout->addWidget(productLine_);
  panelLayout->addStretch(1);
  panelLayout->addWidget(purpose_);
  panelLayout->addSpacing(6);
  panelLayout->addWidget(bus_);
  panelLayout->addStretch(2);

  lb1_ = new QLabel(this);
  lb1_->setObjectName("lb1");
  lb1_->setAlignment(Qt::AlignCenter);
  QFont smallFont = lb1_->font();
  smallFont.setPointSizeF(smallFont.pointSizeF() - 1);
  lb1_->setFont(smallFont);
  lb1_->setFixedWidth(40);
  lb1_->hide();

  // The digits typed so far. Never shown and never focused: the keys reach the window itself.
  edit1_ = new QLineEdit(this);
  edit1_->setObjectName("Edit1");
  edit1_->setFocusPolicy(Qt::NoFocus);
  edit1_->hide();

  auto* bottom = new QHBoxLayout;
  bottom->setContentsMargins(0, 0, 0, 0);
  bottom->addStretch(1);
  bottom->addWidget(lb1_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 4);
  layout->setSpacing(2);
  layout->addWidget(panel, 1);
  layout->addLayout(bottom);
  // The bottom row keeps its height whether or not the count is showing.
  bottom->addStrut(lb1_->sizeHint().height());

  ApplyTexts();
}

TFrmAbout::~TFrmAbout() = default;

void TFrmAbout::ApplyTexts() {
  setWindowTitle(Tr(txt::AboutTitle, language_));
  productLine_->setText(Tr(txt::ProductText, language_) + QLatin1String(kVersionInfix) + version_);
  purpose_->setText(Tr(txt::AboutPurpose, language_));
  bus_->setText(Tr(txt::AboutBus, language_));
}

void TFrmAbout::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (e->spontaneous()) return;
  ApplyTexts();
  if (const QScreen* s = screen()) {
    QRect r = frameGeometry();
    r.moveCenter(s->availableGeometry().center());
    move(r.topLeft());
  }
}

void TFrmAbout::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  if (e->type() != QEvent::ActivationChange) return;
  if (isActiveWindow()) {
    lb1_->clear();
  } else if (isVisible()) {
    // Any other window coming to the front, ours or another program's, ends the About window.
    close();
  }
}

void TFrmAbout::keyPressEvent(QKeyEvent* e) {
  // Every key is ours: none reaches the dialog's own handling (Enter, arrows).
  e->accept();
  if (e->key() == Qt::Key_Escape) {
    close();
    return;
  }
  // Keys without a character (Shift, arrows, function keys) leave the buffer alone.
  for (const QChar c : e->text()) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
      edit1_->clear();
      if (trace_ && trace_->TraceExists()) trace_->HideTrace();
      continue;
    }
    QString buffer = edit1_->text() + c;
    if (buffer.size() > MaxBufferLength) buffer.clear();
    edit1_->setText(buffer);
    if (buffer == QLatin1String(AccessCode)) {
      OpenTrace();
      return;
    }
  }
}

bool TFrmAbout::eventFilter(QObject* watched, QEvent* e) {
  if (watched == productLine_ && e->type() == QEvent::MouseButtonDblClick &&
      static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    ++dblClickCount_;
    lb1_->setText(QString::number(dblClickCount_));
    lb1_->show();
    if (dblClickCount_ >= DblClicksToOpen) OpenTrace();
    return true;
  }
  return QDialog::eventFilter(watched, e);
}

void TFrmAbout::OpenTrace() {
  ResetDoor();
  if (trace_) trace_->ShowTrace();
  close();
}

void TFrmAbout::ResetDoor() {
  edit1_->clear();
  dblClickCount_ = 0;
}

void TFrmAbout::done(int result) {
  // Every way out (Escape, the close button, deactivation, the door) passes here.
  ResetDoor();
  QDialog::done(result);
}

}  // namespace tessel
