// The main window as the controller's view: its boxes, columns, commands and
// questions.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/main_window.h"
#include "ui/message_box_notifier.h"
#include "ui/qt_text.h"
#include "ui/twips.h"

namespace ku::ui {

std::string MainWindow::entryText(int slot) const {
  if (slot < 0 || slot >= kRowSlots) return {};
  return entryBoxes_[slot]->text().toStdString();
}

void MainWindow::setEntryText(int slot, const std::string& text) {
  if (slot < 0 || slot >= kRowSlots) return;
  const QString q = qs(text);
  if (entryBoxes_[slot]->text() == q) return;  // an unchanged text raises nothing
  entryBoxes_[slot]->setText(q);
}

void MainWindow::focusEntry(int slot) {
  if (slot < 0 || slot >= kRowSlots) return;
  if (busy_) {
    focusAfter_ = slot;  // the box is disabled until the exchange is over
    return;
  }
  QLineEdit* box = entryBoxes_[slot];
  if (box->isEnabled()) box->setFocus(Qt::OtherFocusReason);
}

std::string MainWindow::pulseWidthText() const {
  return pulseWidthBox_->text().toStdString();
}

void MainWindow::setPulseWidthText(const std::string& text) {
  const QString q = qs(text);
  if (pulseWidthBox_->text() == q) return;
  pulseWidthBox_->setText(q);
}

void MainWindow::setReferenceValue(int row, const std::string& text) {
  if (row >= 0 && row <= kPulseWidthRow) setAutoSizeText(referenceLabels_[row], qs(text));
}

void MainWindow::setReferenceUnit(int row, const std::string& text) {
  if (row >= 0 && row <= kPulseWidthRow) setAutoSizeText(referenceUnitLabels_[row], qs(text));
}

void MainWindow::setDescriptionValue(int row, const std::string& text) {
  if (row >= 0 && row < kRowSlots) setAutoSizeText(descriptionLabels_[row], qs(text));
}

void MainWindow::setCurrentValue(int row, const std::string& text) {
  if (row < 0 || row > kPulseWidthRow) return;
  setAutoSizeText(currentLabels_[row], qs(text));
  // An empty cell of a slot is one the last read-back did not bring.
  if (row < kRowSlots)
    currentLabels_[row]->setToolTip(text.empty() ? QString::fromUtf8(kNotReadBackTip) : QString());
}

bool MainWindow::confirm(const std::string& question) {
  return askYesNo(this, question);
}

void MainWindow::setButtonEnabled(Button b, bool enabled) {
  switch (b) {
    case Button::Update:
      updateWanted_ = enabled;
      break;
    case Button::Close:
      closeWanted_ = enabled;
      break;
    case Button::Defaults:
      defaultWanted_ = enabled;
      break;
  }
  applyControlStates();
}

}  // namespace ku::ui
