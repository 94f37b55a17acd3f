#include "ui/message_box_notifier.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QMessageBox>

namespace ku::ui {

void MessageBoxNotifier::show(const Message& message) {
  const std::string text = operatorText(message);
  QWidget* parent = (owner_ && owner_->isVisible()) ? owner_.data() : nullptr;
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), QString::fromStdString(text),
                  QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  // A plain OK button: some styles put a tick icon on it.
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setIcon(QIcon());
  box.setWindowModality(Qt::ApplicationModal);
  // A pause may have set the busy cursor; the box itself waits for the operator.
  const bool busy = QApplication::overrideCursor() != nullptr;
  if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  if (busy) QApplication::restoreOverrideCursor();
}

bool askYesNo(QWidget* owner, const std::string& question) {
  QWidget* parent = (owner && owner->isVisible()) ? owner : nullptr;
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(kAppTitle),
                  QString::fromStdString(question), QMessageBox::Yes | QMessageBox::No, parent);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  box.setWindowModality(Qt::ApplicationModal);
  const bool busy = QApplication::overrideCursor() != nullptr;
  if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
  const int answer = box.exec();
  if (busy) QApplication::restoreOverrideCursor();
  return answer == QMessageBox::Yes;
}

}  // namespace ku::ui
