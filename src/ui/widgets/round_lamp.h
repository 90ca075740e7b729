// A round lamp: lit in its colour, dark grey when out.
#pragma once

#include <QColor>
#include <QWidget>

namespace tessel {

class RoundLamp : public QWidget {
  Q_OBJECT

 public:
  explicit RoundLamp(QColor litColour, QWidget* parent = nullptr);

  void SetLit(bool lit);
  bool IsLit() const { return lit_; }
  QSize sizeHint() const override { return {16, 16}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QColor colour_;
  bool lit_ = false;
};

}  // namespace tessel
