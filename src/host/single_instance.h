// One running copy per program folder and user. A second copy with the same folder asks the
// first to come to the front and ends; copies with different folders run side by side.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace tessel {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // home: the program folder (any spelling of the same folder gives the same key).
  explicit SingleInstance(const QString& home, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this is the first copy: it then listens for activation requests. False when
  // another copy runs; that copy has been asked to come to the front.
  bool Claim();

  // Raised in the first copy when a second copy asked it to come to the front.
  std::function<void()> OnActivate;

  const QString& Key() const { return key_; }

 private:
  bool TellRunningCopy();
  QString key_;
  QLocalServer* server_ = nullptr;
};

}  // namespace tessel
