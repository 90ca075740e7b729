// A measured value on the device page: bold light green on black. Unlike a label, a new text only
// repaints the box; it never asks the layout around it to be worked out again, which on a page
// of changing values would redraw the whole page every refresh.
#pragma once

#include <QString>
#include <QWidget>

namespace tessel {

class ValueText : public QWidget {
  Q_OBJECT

 public:
  ValueText(const QString& text, Qt::Alignment alignment, QWidget* parent = nullptr);

  QString text() const { return text_; }
  void setText(const QString& text);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString text_;
  Qt::Alignment alignment_;
};

}  // namespace tessel
