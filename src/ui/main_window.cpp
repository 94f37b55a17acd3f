#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <exception>

#include "app/folders.h"
#include "app/version.h"
#include "link/protocol.h"
#include "link/qt_serial_port.h"
#include "model/log.h"
#include "reference/db_cache.h"
#include "reference/reference_database.h"
#include "ui/classic_look.h"
#include "ui/exchange_watch.h"
#include "ui/guide_window.h"
#include "ui/message_box_notifier.h"
#include "ui/port_dialog.h"
#include "ui/qt_text.h"
#include "ui/twips.h"
#include "ui/window_placement.h"
#include "ui/window_thread_view.h"

namespace ku::ui {

// Every message of the window passes here on its way to the operator.
class MainWindow::ExchangeNotifier : public Notifier {
 public:
  ExchangeNotifier(MainWindow& window, Notifier& inner) : window_(window), inner_(inner) {}
  void show(const Message& message) override {
    window_.beforeMessage(message.kind);
    if (message.kind == MessageKind::ShortReply) window_.received_ = qs(message.detail);
    inner_.show(message);
  }

 private:
  MainWindow& window_;
  Notifier& inner_;
};

MainWindow::MainWindow(AppContext& context, MainWindowDeps deps)
    : QMainWindow(nullptr), context_(context) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QString::fromLatin1(kMainWindowCaption));
  setFont(defaultFont());

  buildForm();

  Notifier* notifier = deps.notifier;
  if (!notifier) {
    ownNotifier_ = std::make_unique<MessageBoxNotifier>(this);
    notifier = ownNotifier_.get();
  }
  notifier_ = std::make_unique<ExchangeNotifier>(*this, *notifier);
  // The exchanges run on their own thread; what they show comes back here.
  exchanges_ = std::make_unique<ExchangeThread>();
  threadView_ = std::make_unique<WindowThreadView>(*exchanges_, *this);
  threadNotifier_ = std::make_unique<WindowThreadNotifier>(*exchanges_, *notifier_);
  Sleeper* sleeper = deps.sleeper;
  if (!sleeper) {
    ownSleeper_ = std::make_unique<RealSleeper>();
    sleeper = ownSleeper_.get();
  }
  // The pauses and the bytes are reported from the exchange thread without
  // waiting for this one: the pacing never waits on the window.
  sleeper_ = std::make_unique<WatchedSleeper>(
      *sleeper, [this](int ms) { exchanges_->post([this, ms] { pauseStarting(ms); }); },
      [this](int ms) { exchanges_->post([this, ms] { pauseEnded(ms); }); });
  ReferenceDatabaseOpener* opener = deps.opener;
  if (!opener) {
    ownOpener_ = makeCachingMdbOpener();
    opener = ownOpener_.get();
  }
  chooser_ = deps.chooser;
  if (!chooser_) {
    ownChooser_ = std::make_unique<DialogSetupFileChooser>();
    chooser_ = ownChooser_.get();
  }
  setupFolder_ = QDir::homePath();
  std::unique_ptr<SerialPort> port = std::move(deps.port);
  if (!port) {
    auto own = std::make_unique<QtSerialPort>(context_.linkFolder);
    ownPort_ = own.get();
    port = std::move(own);
  }
  listPorts_ = deps.listPorts ? std::move(deps.listPorts) : [] { return listSerialPorts(); };
  tryPort_ = deps.tryPort ? std::move(deps.tryPort)
                          : [](const std::string& device) { return tryOpeningPort(device); };
  auto watched = std::make_unique<WatchedPort>(
      std::move(port), [this](std::size_t n) { exchanges_->post([this, n] { bytesSent(n); }); });

  controller_ = std::make_unique<UnitController>(context_, *threadView_, *threadNotifier_,
                                                 *sleeper_, std::move(watched), *opener);
  ExchangeObserver watch;
  watch.readBackPhase = [this](ReadBackPhase p) {
    exchanges_->post([this, p] { readBackPhase(p); });
  };
  controller_->setProgressObserver(std::move(watch));
  controller_->setStopRequest(deps.stop);
  trace_ = deps.trace;
  if (!trace_) {
    ownTrace_ = std::make_unique<WireTrace>();
    trace_ = ownTrace_.get();
  }
  controller_->setTrace(trace_);
  connectHandlers();
  resize(formSize());
  entryBoxes_[1]->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow() {
  // Handlers must not run on a half-destroyed window.
  for (QLineEdit* box : entryBoxes_) box->disconnect(this);
  pulseWidthBox_->disconnect(this);
  for (QLineEdit* box : entryBoxes_) box->removeEventFilter(this);
  // The port was opened on the exchange thread and is put away there, after
  // any exchange still running (which no longer waits for this window).
  exchanges_->finish([this] { controller_.reset(); });
}

void MainWindow::connectHandlers() {
  for (int k = 0; k < kRowSlots; ++k) {
    connect(entryBoxes_[k], &QLineEdit::textChanged, this, [this, k] {
      if (!controllerFree()) return;
      if (!busy_) clearRangeHint(k);
      const int outer = editingSlot_;
      editingSlot_ = k;
      runHandler([this, k] { controller_->entryEdited(k); });
      editingSlot_ = outer;
    });
    entryBoxes_[k]->installEventFilter(this);
  }
  connect(pulseWidthBox_, &QLineEdit::textChanged, this, [this] { pulseWidthChanged(); });
  pulseWidthBox_->installEventFilter(this);
  // Return in a box moves on to the next box, as in a form.
  for (QLineEdit* box : entryBoxes_)
    connect(box, &QLineEdit::returnPressed, this, [this, box] { focusNextBox(box); });
  connect(pulseWidthBox_, &QLineEdit::returnPressed, this,
          [this] { focusNextBox(pulseWidthBox_); });
  connect(updateButton_, &QPushButton::clicked, this, [this] {
    exchange(Exchange::UploadSetup, [this] {
      if (lineBack()) upload([this] { return controller_->runUpdateCommand(); });
    });
  });
  connect(defaultButton_, &QPushButton::clicked, this, [this] {
    exchange(Exchange::UploadDefaults, [this] {
      if (lineBack()) upload([this] { return controller_->runDefaultCommand(); });
    });
  });
  connect(closeButton_, &QPushButton::clicked, this, [this] { close(); });
}

void MainWindow::upload(const std::function<UploadOutcome()>& command) {
  // Until the command says otherwise the pass may have gone out (a stop, say).
  lastUpload_ = UploadOutcome::Sent;
  lastUpload_ = command();
}

void MainWindow::runHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    // The operations report to the operator themselves; what escapes them
    // ends only the handler that ran it, and is named in the status bar.
    escaped_ = escapedFailureText(e);
    statusText_->setText(escaped_);
  }
}

bool MainWindow::controllerFree() const {
  return !busy_ || exchanges_->inWindowCall();
}

bool MainWindow::exchange(Exchange kind, std::function<void()> work, std::function<void()> then) {
  if (busy_) return false;
  qCDebug(lcUi, "exchange %d starts on the exchange thread", static_cast<int>(kind));
  busy_ = true;
  // After "Update" or "Default" the focus goes back to the box it was in, even
  // when the button was clicked.
  const bool upload = kind == Exchange::UploadSetup || kind == Exchange::UploadDefaults;
  hadFocus_ = upload && lastBox_ ? lastBox_.data() : focusWidget();
  focusAfter_ = -1;
  escaped_.clear();
  received_.clear();
  reopenCode_ = 0;
  applyControlStates();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  beginProgress(kind);
  progressTimer_->start();
  auto run = [this, work = std::move(work)] {
    // After a failed write or read the port is closed, however the exchange
    // ended: the next one opens the device again.
    try {
      work();
    } catch (...) {
      controller_->closeLostLine();
      throw;
    }
    controller_->closeLostLine();
  };
  exchanges_->start(std::move(run), [this, kind, then](std::exception_ptr escaped) {
    exchangeEnded(kind, escaped, then);
  });
  return true;
}

void MainWindow::exchangeEnded(Exchange kind, std::exception_ptr escaped,
                               const std::function<void()>& then) {
  QApplication::restoreOverrideCursor();
  progressTimer_->stop();
  busy_ = false;
  portOpen_ = controller_->port().isOpen();
  if (escaped) {
    // The operations report to the operator themselves; what escapes them ends
    // only that exchange, and is named in the status bar.
    try {
      std::rethrow_exception(escaped);
    } catch (const std::exception& e) {
      escaped_ = escapedFailureText(e);
    } catch (...) {
      escaped_ = QStringLiteral("Stopped early");
    }
  }
  applyControlStates();
  endProgress(kind);
  qCDebug(lcUi, "exchange %d ended: %s", static_cast<int>(kind), qPrintable(lastSummary_));
  QWidget* focus = focusAfter_ >= 0 ? entryBoxes_[focusAfter_] : hadFocus_.data();
  if (focus && focus->isEnabled() && focus != focusWidget()) focus->setFocus(Qt::OtherFocusReason);
  if (then) then();
  Q_EMIT exchangeFinished();
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

void MainWindow::applyControlStates() {
  const bool idle = !busy_;
  for (int k = 0; k < kRowSlots; ++k) entryBoxes_[k]->setEnabled(idle && isEnterable(k));
  pulseWidthBox_->setEnabled(idle);
  updateButton_->setEnabled(idle && updateWanted_);
  readBackAction_->setEnabled(idle && updateWanted_);  // reading back goes with uploading
  defaultButton_->setEnabled(idle && defaultWanted_);
  closeButton_->setEnabled(idle && closeWanted_);  // the close request itself stays live
  for (QAction* a : {portAction_, checkConnectionAction_, openSetupAction_, saveSetupAction_,
                     restoreBackupAction_})
    a->setEnabled(idle);
}

void MainWindow::load() {
  exchange(Exchange::Load, [this] { lastLoad_ = controller_->openLink(); });
}

void MainWindow::readBackUnit() {
  if (busy_ || !readBackAction_->isEnabled()) return;
  if (!controller_->mayDiscardTypedEntries()) return;
  exchange(Exchange::ReadBack, [this] {
    if (!lineBack()) return;
    controller_->disableCommands();
    controller_->readBack();
    controller_->enableCommands();
  });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // The exchange finishes first (no frame is cut); the window closes right after it.
    if (!closePending_) {
      qCDebug(lcUi, "close requested during an exchange: it closes once the exchange is over");
      closePending_ = true;
      statusText_->setText(QStringLiteral("Closing once the exchange with the unit is over"));
    }
    event->ignore();
    return;
  }
  if (!unloaded_ && controller_->port().isOpen()) {
    event->ignore();
    unload();
    return;
  }
  // No port open: there is nothing to wait for, and nothing goes out.
  if (!unloaded_) {
    unloaded_ = true;
    runHandler([this] { controller_->closeLink(); });
  }
  if (guide_) guide_->close();
  event->accept();
}

void MainWindow::unload() {
  busy_ = true;
  applyControlStates();
  statusText_->setText(QStringLiteral("Closing the port"));
  exchanges_->start([this] { controller_->closeLink(); },
                    [this](std::exception_ptr) {
                      // What fails here cannot be shown any more: the window closes.
                      busy_ = false;
                      unloaded_ = true;
                      closePending_ = false;
                      Q_EMIT exchangeFinished();
                      close();
                    });
}

void MainWindow::focusNextBox(QLineEdit* from) {
  // The next box in the keyboard order that takes the focus, round to the first.
  for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
    auto* box = qobject_cast<QLineEdit*>(w);
    if (box && box->isEnabled() && (box->focusPolicy() & Qt::TabFocus) && box->window() == this) {
      box->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    if (auto* box = qobject_cast<QLineEdit*>(watched)) lastBox_ = box;
  }
  if (event->type() == QEvent::FocusOut) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Only a move of the focus inside the window counts; another window or a
    // message box taking over leaves the box as it is.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      const QVariant slot = watched->property("slot");
      // A box disabled for an exchange is not left by the operator.
      if (slot.isValid() && !unloaded_ && !busy_) {
        const int k = slot.toInt();
        runHandler([this, k] { controller_->entryLeft(k); });
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace ku::ui
