// The window's view and messages as the controller sees them from the exchange
// thread: every call is run on the window's thread, the exchange waiting for it.
// Called on the window's thread (outside an exchange) they pass straight on.
#pragma once

#include "app/unit_controller.h"
#include "ui/exchange_thread.h"

namespace ku::ui {

class WindowThreadView : public UnitView {
 public:
  WindowThreadView(ExchangeThread& thread, UnitView& window) : thread_(thread), window_(window) {}

  std::string entryText(int slot) const override;
  void setEntryText(int slot, const std::string& text) override;
  void focusEntry(int slot) override;
  std::string pulseWidthText() const override;
  void setPulseWidthText(const std::string& text) override;
  void setReferenceValue(int row, const std::string& text) override;
  void setReferenceUnit(int row, const std::string& text) override;
  void setDescriptionValue(int row, const std::string& text) override;
  void setCurrentValue(int row, const std::string& text) override;
  void setButtonEnabled(Button b, bool enabled) override;
  bool confirm(const std::string& question) override;

 private:
  ExchangeThread& thread_;
  UnitView& window_;
};

class WindowThreadNotifier : public Notifier {
 public:
  WindowThreadNotifier(ExchangeThread& thread, Notifier& window)
      : thread_(thread), window_(window) {}
  void show(const Message& message) override {
    thread_.onWindowThread([&] { window_.show(message); });
  }

 private:
  ExchangeThread& thread_;
  Notifier& window_;
};

}  // namespace ku::ui
