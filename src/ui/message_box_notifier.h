// The operator's message box on Qt: modal, OK only, no icon, the title as caption.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/operator_texts.h"

namespace ku::ui {

class MessageBoxNotifier : public Notifier {
 public:
  // The box is centred over owner while it is on screen, else over the screen.
  explicit MessageBoxNotifier(QWidget* owner = nullptr) : owner_(owner) {}
  void show(const Message& message) override;

 private:
  QPointer<QWidget> owner_;
};

// A modal yes/no question captioned with the title; true for yes. No is the default.
bool askYesNo(QWidget* owner, const std::string& question);

}  // namespace ku::ui
