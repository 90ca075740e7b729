#include "ui/common/prompter.h"

#include <QMessageBox>

namespace tessel {

void MessageBoxPrompter::Tell(QWidget* parent, MessageKind kind, const QString& text) {
  const QString title = QStringLiteral("Tessel");
  switch (kind) {
    case MessageKind::Information:
      QMessageBox::information(parent, title, text);
      break;
    case MessageKind::Warning:
      QMessageBox::warning(parent, title, text);
      break;
    case MessageKind::Error:
      QMessageBox::critical(parent, title, text);
      break;
    case MessageKind::Notice:
      QMessageBox::question(parent, title, text, QMessageBox::StandardButtons(QMessageBox::Ok));
      break;
  }
}

bool MessageBoxPrompter::Ask(QWidget* parent, const QString& text) {
  return QMessageBox::question(parent, QStringLiteral("Tessel"), text,
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

bool MessageBoxPrompter::AskWarning(QWidget* parent, const QString& caption, const QString& text) {
  return QMessageBox::warning(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace tessel
