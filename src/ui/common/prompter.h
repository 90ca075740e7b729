// Every message box of the windows goes through a Prompter, so that tests can read what was said
// and answer questions without a person at the screen.
#pragma once

#include <QString>

class QWidget;

namespace tessel {

enum class MessageKind {
  Information,  // a plain message box with OK
  Warning,      // a validation message or a refused action
  Error,        // an operation failed
  Notice,       // a question icon with only an OK button
};

class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual void Tell(QWidget* parent, MessageKind kind, const QString& text) = 0;
  // A question with the buttons Yes and No; true for Yes.
  virtual bool Ask(QWidget* parent, const QString& text) = 0;
  // A warning with its own caption and the buttons Yes and No, No pre-selected; true for Yes.
  // For questions whose Yes destroys data.
  virtual bool AskWarning(QWidget* parent, const QString& caption, const QString& text) {
    (void)caption;
    return Ask(parent, text);
  }
};

// The real message boxes, titled with the application title.
class MessageBoxPrompter : public Prompter {
 public:
  void Tell(QWidget* parent, MessageKind kind, const QString& text) override;
  bool Ask(QWidget* parent, const QString& text) override;
  bool AskWarning(QWidget* parent, const QString& caption, const QString& text) override;
};

// Says nothing and answers No: for programs that draw the windows without a person (screenshots,
// benchmarks).
class SilentPrompter : public Prompter {
 public:
  void Tell(QWidget*, MessageKind, const QString&) override {}
  bool Ask(QWidget*, const QString&) override { return false; }
};

}  // namespace tessel
