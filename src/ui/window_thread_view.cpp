#include "ui/window_thread_view.h"

namespace ku::ui {

std::string WindowThreadView::entryText(int slot) const {
  std::string text;
  thread_.onWindowThread([&] { text = window_.entryText(slot); });
  return text;
}

void WindowThreadView::setEntryText(int slot, const std::string& text) {
  thread_.onWindowThread([&] { window_.setEntryText(slot, text); });
}

void WindowThreadView::focusEntry(int slot) {
  thread_.onWindowThread([&] { window_.focusEntry(slot); });
}

std::string WindowThreadView::pulseWidthText() const {
  std::string text;
  thread_.onWindowThread([&] { text = window_.pulseWidthText(); });
  return text;
}

void WindowThreadView::setPulseWidthText(const std::string& text) {
  thread_.onWindowThread([&] { window_.setPulseWidthText(text); });
}

void WindowThreadView::setReferenceValue(int row, const std::string& text) {
  thread_.onWindowThread([&] { window_.setReferenceValue(row, text); });
}

void WindowThreadView::setReferenceUnit(int row, const std::string& text) {
  thread_.onWindowThread([&] { window_.setReferenceUnit(row, text); });
}

void WindowThreadView::setDescriptionValue(int row, const std::string& text) {
  thread_.onWindowThread([&] { window_.setDescriptionValue(row, text); });
}

void WindowThreadView::setCurrentValue(int row, const std::string& text) {
  thread_.onWindowThread([&] { window_.setCurrentValue(row, text); });
}

void WindowThreadView::setButtonEnabled(Button b, bool enabled) {
  thread_.onWindowThread([&] { window_.setButtonEnabled(b, enabled); });
}

bool WindowThreadView::confirm(const std::string& question) {
  bool yes = false;
  thread_.onWindowThread([&] { yes = window_.confirm(question); });
  return yes;
}

}  // namespace ku::ui
