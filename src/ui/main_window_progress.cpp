// The main window's status bar: an exchange followed as it runs (the upload's
// bytes, the read-back's seconds) and summed up when it ends, and the hints
// that come with messages.
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTime>
#include <algorithm>

#include "link/protocol.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"

namespace ku::ui {

void MainWindow::beforeMessage(MessageKind kind) {
  if (kind == MessageKind::EnterValidNumber && editingSlot_ >= 0) {
    statusText_->setText(allowedRangeText(editingSlot_));
    rangeHintSlot_ = editingSlot_;
  }
}

void MainWindow::clearRangeHint(int typedSlot) {
  if (rangeHintSlot_ < 0 || typedSlot == rangeHintSlot_) return;
  // The hint was about another box: the last exchange's line comes back.
  rangeHintSlot_ = -1;
  statusText_->setText(lastSummary_);
}

void MainWindow::pulseWidthChanged() {
  if (!controllerFree()) return;
  const bool emptied = pulseWidthBox_->text().isEmpty();
  runHandler([this] { controller_->pulseWidthEdited(); });
  if (emptied) {
    // The box shows "0" again (the nested change said how it reads); selected,
    // so that what is typed next replaces it.
    pulseWidthBox_->selectAll();
    return;
  }
  const QString reading = pulseWidthReadingText(pulseWidthText(), context_.locale);
  pulseWidthBox_->setToolTip(reading);
  if (!busy_) {
    rangeHintSlot_ = -1;
    statusText_->setText(reading);
  }
}

void MainWindow::showPhase(const char* text, int maximum, const QString& format) {
  statusText_->setText(qs(text));
  progress_->reset();  // no jump to the old value clamped into the new range
  progress_->setRange(0, maximum);
  progress_->setValue(0);
  progress_->setFormat(format);
  progress_->show();
}

void MainWindow::beginProgress(Exchange kind) {
  rangeHintSlot_ = -1;  // the exchange's own line takes over
  sent_ = 0;
  readMs_ = 0;
  pauseMs_ = 0;
  pauseClock_.invalidate();
  readBackRan_ = false;
  requestSent_ = false;
  switch (kind) {
    case Exchange::Load:
      phase_ = Phase::Opening;
      statusText_->setText(QStringLiteral("Opening the port"));
      break;
    case Exchange::ReadBack:
      // Reading, but the three seconds start only with " " (readBackPhase).
      phase_ = Phase::Reading;
      readBackRan_ = true;
      showPhase(kReadingBackText, kReadBackMs, QStringLiteral("%p%"));
      break;
    case Exchange::CheckConnection:
      // Its three seconds run from the start: " ", "q" and "x", a second each.
      phase_ = Phase::Reading;
      requestSent_ = true;
      showPhase(kCheckingText, kReadBackMs, QStringLiteral("%p%"));
      break;
    case Exchange::UploadSetup:
    case Exchange::UploadDefaults:
      phase_ = Phase::Uploading;
      showPhase(kUploadingText, kUploadLength, QStringLiteral("%v of %m bytes"));
      break;
  }
}

void MainWindow::bytesSent(std::size_t count) {
  if (phase_ != Phase::Uploading) return;
  sent_ += count;
  progress_->setValue(static_cast<int>(std::min<std::size_t>(sent_, kUploadLength)));
}

void MainWindow::readBackPhase(ReadBackPhase p) {
  if (phase_ == Phase::Idle) return;
  if (p == ReadBackPhase::FirstRequest) {
    // " " has gone: the three seconds start (a wait before it was the unit's
    // second after an earlier "x", not part of them).
    if (phase_ != Phase::Reading)
      showPhase(kReadingBackText, kReadBackMs, QStringLiteral("%p%"));
    else
      progress_->setValue(0);
    phase_ = Phase::Reading;
    readBackRan_ = true;
    requestSent_ = true;
    readMs_ = 0;
    pauseClock_.invalidate();
  } else if (p == ReadBackPhase::Done && phase_ == Phase::Reading) {
    // The record is in, mostly well before the third second is over.
    pauseClock_.invalidate();
    readMs_ = kReadBackMs;
    progress_->setValue(kReadBackMs);
  }
}

void MainWindow::pauseStarting(int ms) {
  if (phase_ != Phase::Reading || !requestSent_) return;
  pauseMs_ = ms;
  pauseClock_.start();
}

void MainWindow::pauseTick() {
  if (phase_ != Phase::Reading || !requestSent_ || !pauseClock_.isValid()) return;
  const int within = static_cast<int>(std::min<qint64>(pauseClock_.elapsed(), pauseMs_));
  const int value = std::min(kReadBackMs, readMs_ + within);
  if (value != progress_->value()) progress_->setValue(value);
}

void MainWindow::pauseEnded(int ms) {
  if (phase_ != Phase::Reading || !requestSent_) return;
  pauseClock_.invalidate();
  readMs_ += ms;
  progress_->setValue(std::min(kReadBackMs, readMs_));
}

void MainWindow::endProgress(Exchange kind) {
  phase_ = Phase::Idle;
  progress_->hide();
  ExchangeResult r;
  r.kind = kind;
  r.load = lastLoad_.outcome;
  r.loadCode = lastLoad_.lastCode;
  r.uploadCode = controller_->lastUploadCode();
  r.readBackRan = readBackRan_;
  r.slotsRead = controller_->slotsReadAtLastReadBack();
  r.at = QTime::currentTime();
  r.upload = lastUpload_;
  if (kind == Exchange::UploadSetup || kind == Exchange::UploadDefaults) {
    r.broke = controller_->lastUploadBreak();
    // File > Restore backup offers first the set-up from before a pass that broke off.
    if (r.upload == UploadOutcome::Sent)
      brokenUploadBackup_ =
          r.broke ? QString::fromStdString(controller_->lastBackupPath()) : QString();
  }
  r.lineLost = controller_->lineLost();
  r.reopenCode = reopenCode_;
  r.received = received_;
  QString summary = exchangeSummary(r);
  if (!escaped_.isEmpty()) summary += QStringLiteral("; ") + escaped_;
  statusText_->setText(summary);
  lastSummary_ = summary;
}

}  // namespace ku::ui
