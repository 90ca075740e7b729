// A Prompter that records every message and answers questions from a queue (No when empty).
#pragma once

#include <QString>
#include <deque>
#include <vector>

#include "ui/common/prompter.h"

namespace tessel {

class FakePrompter : public Prompter {
 public:
  struct Message {
    MessageKind Kind;
    QString Text;
  };

  void Tell(QWidget*, MessageKind kind, const QString& text) override {
    Told.push_back({kind, text});
  }
  bool Ask(QWidget*, const QString& text) override {
    Asked.push_back(text);
    if (Answers.empty()) return false;
    const bool a = Answers.front();
    Answers.pop_front();
    return a;
  }

  // Recorded as a question too (its text in Asked), with its caption.
  bool AskWarning(QWidget* parent, const QString& caption, const QString& text) override {
    WarningCaptions.push_back(caption);
    return Ask(parent, text);
  }

  QString LastTold() const { return Told.empty() ? QString() : Told.back().Text; }

  std::vector<Message> Told;
  std::vector<QString> Asked;
  std::vector<QString> WarningCaptions;  // one per AskWarning, in order
  std::deque<bool> Answers;
};

}  // namespace tessel
