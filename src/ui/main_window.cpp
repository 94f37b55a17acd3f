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
#include "reference/db_cache.h"
#include "reference/reference_database.h"
#include "ui/classic_look.h"
#include "ui/exchange_watch.h"
#include "ui/message_box_notifier.h"
#include "ui/port_dialog.h"
#include "ui/twips.h"
#include "ui/window_placement.h"
#include "ui/window_thread_view.h"

namespace ku::ui {

namespace {

constexpr int kHeadingTop = 240;
constexpr int kFirstRowTop = 600;
constexpr int kRowPitch = 285;

constexpr int kLabelColumn = 480;
constexpr int kCurrentColumn = 2280;
constexpr int kBoxColumn = 3900;
constexpr int kReferenceColumn = 5190;
constexpr int kUnitColumn = 6240;
constexpr int kDescriptionColumn = 7080;
constexpr int kDescriptionValueColumn = 8520;
constexpr int kDescriptionUnitColumn = 9360;

constexpr int kFormWidth = 10140;  // the form's client area, in twips
constexpr int kFormHeight = 10455;

constexpr int rowTop(int row) {
  return kFirstRowTop + kRowPitch * row;
}

QString qs(const char* text) {
  return QString::fromUtf8(text ? text : "");
}
QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

// Every message of the window passes here on its way to the operator.
class MainWindow::ExchangeNotifier : public Notifier {
 public:
  ExchangeNotifier(MainWindow& window, Notifier& inner) : window_(window), inner_(inner) {}
  void show(const Message& message) override {
    window_.beforeMessage(message.kind);
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
  applyWindowColours(this);

  // The form keeps its size and every control its place whatever the window's
  // size; where the window is smaller than the form, the form scrolls.
  form_ = new QWidget;
  form_->setObjectName(QStringLiteral("form"));
  form_->setFixedSize(px(kFormWidth), px(kFormHeight));
  form_->setAutoFillBackground(true);
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("formScroll"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setFocusPolicy(Qt::NoFocus);  // Tab runs through the form only
  scroll_->setWidgetResizable(false);
  scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  scroll_->setWidget(form_);
  setCentralWidget(scroll_);

  buildRows();
  buildButtons();
  buildTabOrder();
  buildMenus();
  buildStatusBar();

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
  connectHandlers();
  resize(px(kFormWidth),
         menuBar()->sizeHint().height() + px(kFormHeight) + statusBar()->sizeHint().height());
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

void MainWindow::buildRows() {
  struct Heading {
    const char* name;
    int left;
    const char* caption;
  };
  const Heading headings[] = {{"variableNameHeading", 480, "Variable Name"},
                              {"currentValueHeading", 2280, "Current Value"},
                              {"newValueHeading", 3960, "New Value"},
                              {"referenceHeading", 5160, "Reference Values"},
                              {"descriptionHeading", 7080, "Description"}};
  for (const Heading& h : headings) {
    auto* l = new QLabel(qs(h.caption), form_);
    l->setObjectName(qs(h.name));
    l->setFont(defaultFont(true));
    placeAutoSizeLabel(l, h.left, kHeadingTop);
  }

  auto makeLabel = [this](const QString& name, const QString& text, int left, int top) {
    auto* l = new QLabel(text, form_);
    l->setObjectName(name);
    placeAutoSizeLabel(l, left, top);
    return l;
  };
  auto indexed = [](const char* array, int index) {
    return QStringLiteral("%1_%2").arg(qs(array)).arg(index);
  };

  for (int k = 0; k < kRowSlots; ++k) {
    const int top = rowTop(k);
    const FixedTexts& fixed = fixedTexts(k);
    rowLabels_[k] =
        makeLabel(QStringLiteral("name_%1").arg(k), qs(slotInfo(k).rowLabel), kLabelColumn, top);
    currentLabels_[k] = makeLabel(indexed("current", k), QString(), kCurrentColumn, top);
    currentLabels_[k]->setToolTip(QString::fromUtf8(kNotReadBackTip));

    auto* box = new QLineEdit(form_);
    box->setObjectName(indexed("entry", k));
    box->setGeometry(twipRect(kBoxColumn, top, 1095, 280));
    box->setToolTip(qs(slotInfo(k).tooltip));
    box->setProperty("slot", k);
    box->setAccessibleName(QStringLiteral("New value: ") + qs(slotInfo(k).rowLabel));
    if (isEnterable(k)) {
      box->setAccessibleDescription(allowedRangeText(k) +
                                    QStringLiteral(" Empty keeps the unit's value."));
    } else {
      box->setEnabled(false);
      box->setAccessibleDescription(QStringLiteral("Shown only; the unit's own value is kept."));
      applyGreyBoxColours(box);
    }
    entryBoxes_[k] = box;

    referenceLabels_[k] =
        makeLabel(indexed("reference", k), qs(fixed.reference), kReferenceColumn, top);
    referenceUnitLabels_[k] =
        makeLabel(indexed("referenceUnit", k), qs(fixed.referenceUnit), kUnitColumn, top);
    descriptionNameLabels_[k] = makeLabel(indexed("descriptionName", k), qs(fixed.descriptionName),
                                          kDescriptionColumn, top);
    descriptionLabels_[k] = makeLabel(indexed("description", k), QString(), kDescriptionValueColumn,
                                      k == 18 ? top + 30 : top);
    descriptionUnitLabels_[k] = makeLabel(indexed("descriptionUnit", k), qs(fixed.descriptionUnit),
                                          kDescriptionUnitColumn, top);
  }

  // The pulse-width row.
  const int top = rowTop(kPulseWidthRow);
  const FixedTexts& fixed = fixedTexts(kPulseWidthRow);
  pulseWidthLabel_ = makeLabel(QStringLiteral("pulseWidthName"),
                               QString::fromLatin1(kPulseWidthLabel), kLabelColumn, top);
  currentLabels_[kPulseWidthRow] =
      makeLabel(indexed("current", kPulseWidthRow), QStringLiteral("N/A"), kCurrentColumn, top);
  pulseWidthBox_ = new QLineEdit(QStringLiteral("0"), form_);
  pulseWidthBox_->setObjectName(QStringLiteral("pulseWidth"));
  pulseWidthBox_->setGeometry(twipRect(kBoxColumn, top, 1095, 285));
  pulseWidthBox_->setToolTip(QString::fromLatin1(kPulseWidthLabel));
  pulseWidthBox_->setAccessibleName(QStringLiteral("New value: ") +
                                    QString::fromLatin1(kPulseWidthLabel));
  pulseWidthBox_->setAccessibleDescription(
      QStringLiteral("The echo sounder's minimum pulse width in milliseconds, for the Min Depth "
                     "figure; never sent to the unit."));
  referenceLabels_[kPulseWidthRow] =
      makeLabel(indexed("reference", kPulseWidthRow), qs(fixed.reference), kReferenceColumn, top);
  referenceUnitLabels_[kPulseWidthRow] = makeLabel(indexed("referenceUnit", kPulseWidthRow),
                                                   qs(fixed.referenceUnit), kUnitColumn, top);
}

void MainWindow::buildButtons() {
  auto makeButton = [this](const char* name, const char* caption, int left, int width,
                           const char* description) {
    auto* b = new QPushButton(qs(caption), form_);
    b->setObjectName(qs(name));
    b->setFont(defaultFont());
    b->setGeometry(twipRect(left, 10080, width, 255));
    b->setAutoDefault(false);
    b->setAccessibleDescription(qs(description));
    return b;
  };
  defaultButton_ =
      makeButton("default", "Default", 2760, 1095,
                 "Uploads the built-in default set-up, keeping the unit's channel, then reads "
                 "the unit back.");
  updateButton_ = makeButton("update", "Update", 3840, 1215,
                             "Uploads every value, your entries laid over the unit's, then reads "
                             "the unit back.");
  closeButton_ = makeButton("close", "Close", 5040, 1215,
                            "Sends the unit its close byte, closes the port and ends the program.");
}

void MainWindow::buildMenus() {
  auto action = [this](QMenu* menu, const char* name, const QString& text, const char* description,
                       const QKeySequence& keys = QKeySequence()) {
    QAction* a = menu->addAction(text);
    a->setObjectName(qs(name));
    a->setStatusTip(qs(description));
    a->setWhatsThis(qs(description));
    a->setToolTip(qs(description));
    if (!keys.isEmpty()) a->setShortcut(keys);
    return a;
  };
  auto menu = [this](const char* name, const QString& title, const char* description) {
    QMenu* m = menuBar()->addMenu(title);
    m->setObjectName(qs(name));
    m->setAccessibleName(QString(title).remove(QLatin1Char('&')));
    m->setAccessibleDescription(qs(description));
    return m;
  };

  QMenu* file =
      menu("fileMenu", QStringLiteral("&File"), "Set-up files, backups and leaving the program.");
  openSetupAction_ =
      action(file, "openSetup", QStringLiteral("&Open set-up..."),
             "Puts a saved set-up into the boxes where it differs from the unit; Update sends it.",
             QKeySequence(Qt::CTRL | Qt::Key_O));
  connect(openSetupAction_, &QAction::triggered, this, [this] { openSetup(); });
  saveSetupAction_ = action(file, "saveSetup", QStringLiteral("&Save set-up..."),
                            "Saves the set-up read back from the unit last to a file.",
                            QKeySequence(Qt::CTRL | Qt::Key_S));
  connect(saveSetupAction_, &QAction::triggered, this, [this] { saveSetup(); });
  restoreBackupAction_ =
      action(file, "restoreBackup", QStringLiteral("&Restore backup..."),
             "Lists the backups kept before every upload and opens the one you choose.");
  connect(restoreBackupAction_, &QAction::triggered, this, [this] { restoreBackup(); });
  file->addSeparator();
  quitAction_ = action(file, "quit", QStringLiteral("&Quit"),
                       "Closes the window as Close does: the unit gets its close byte.",
                       QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(quitAction_, &QAction::triggered, this, [this] { close(); });

  QMenu* unit = menu("unitMenu", QStringLiteral("&Unit"), "Exchanges with the unit.");
  readBackAction_ = action(unit, "readBack", QStringLiteral("&Read back"),
                           "Reads the unit's set-up back without sending it anything else.",
                           QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(readBackAction_, &QAction::triggered, this, [this] { readBackUnit(); });
  portAction_ = action(unit, "port", QStringLiteral("&Port..."),
                       "Chooses the serial port the unit is wired to, makes it port 1, then "
                       "sets it up and reads the unit back.");
  connect(portAction_, &QAction::triggered, this, [this] { choosePort(); });

  QMenu* help = menu("helpMenu", QStringLiteral("&Help"), "The guide and the program's facts.");
  guideAction_ =
      action(help, "operatorsGuide", QStringLiteral("&Operator's guide"),
             "Opens the operator's guide that came with the program.", QKeySequence::HelpContents);
  connect(guideAction_, &QAction::triggered, this, [this] { openOperatorGuide(); });
  aboutAction_ = action(help, "about", QStringLiteral("&About"),
                        "The program's version, and the files and device it uses.");
  connect(aboutAction_, &QAction::triggered, this, [this] { showAbout(); });
}

void MainWindow::buildStatusBar() {
  statusText_ = new QLabel(this);
  statusText_->setObjectName(QStringLiteral("statusText"));
  statusText_->setAccessibleName(QStringLiteral("Status"));
  statusText_->setTextFormat(Qt::PlainText);
  statusBar()->addWidget(statusText_, 1);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setAccessibleName(QStringLiteral("Progress"));
  progress_->setMaximumWidth(px(2400));
  // Wide enough for its longest text, "69 of 69 bytes".
  progress_->setMinimumWidth(progress_->fontMetrics().horizontalAdvance(
                                 QStringLiteral("%1 of %1 bytes").arg(kUploadLength)) +
                             px(360));
  progress_->setMaximumHeight(statusText_->sizeHint().height() + 2);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);
  progressTimer_ = new QTimer(this);
  progressTimer_->setInterval(50);
  connect(progressTimer_, &QTimer::timeout, this, [this] { pauseTick(); });
}

void MainWindow::buildTabOrder() {
  QWidget* previous = entryBoxes_[0];
  auto chain = [&previous](QWidget* next) {
    QWidget::setTabOrder(previous, next);
    previous = next;
  };
  for (int k = 1; k < kRowSlots; ++k) chain(entryBoxes_[k]);
  chain(updateButton_);
  chain(closeButton_);
  chain(pulseWidthBox_);
  chain(defaultButton_);
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
  connect(pulseWidthBox_, &QLineEdit::textChanged, this, [this] {
    if (controllerFree()) runHandler([this] { controller_->pulseWidthEdited(); });
  });
  connect(updateButton_, &QPushButton::clicked, this, [this] {
    exchange(Exchange::UploadSetup,
             [this] { upload([this] { return controller_->runUpdateCommand(); }); });
  });
  connect(defaultButton_, &QPushButton::clicked, this, [this] {
    exchange(Exchange::UploadDefaults,
             [this] { upload([this] { return controller_->runDefaultCommand(); }); });
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
  busy_ = true;
  hadFocus_ = focusWidget();
  focusAfter_ = -1;
  escaped_.clear();
  applyControlStates();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  beginProgress(kind);
  progressTimer_->start();
  exchanges_->start(std::move(work), [this, kind, then](std::exception_ptr escaped) {
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
  for (QAction* a : {portAction_, openSetupAction_, saveSetupAction_, restoreBackupAction_})
    a->setEnabled(idle);
}

void MainWindow::load() {
  exchange(Exchange::Load, [this] { lastLoad_ = controller_->openLink(); });
}

void MainWindow::readBackUnit() {
  if (busy_ || !readBackAction_->isEnabled()) return;
  exchange(Exchange::ReadBack, [this] {
    controller_->disableCommands();
    controller_->readBack();
    controller_->enableCommands();
  });
}

void MainWindow::choosePort() {
  if (busy_) return;
  const Folders folders = resolveFolders(FolderEnvironment::ofProcess(context_.programDir));
  PortDialog dialog(listPorts_, portDestinationText(folders), aboutFacts().device, this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (const std::optional<SerialPortEntry> chosen = dialog.chosenPort()) usePort(*chosen);
}

bool MainWindow::usePort(const SerialPortEntry& port) {
  if (busy_) return false;
  const FolderEnvironment env = FolderEnvironment::ofProcess(context_.programDir);
  // Written where the program reads its settings, so that the choice takes effect.
  const std::string folder = resolveFolders(env).settingsFolder();
  const std::string target = port.preferredPath();
  const std::string failure = writePortSettings(folder, target);
  if (!failure.empty()) {
    notifier_->show({MessageKind::Other, "The port was not changed: " + failure + "."});
    return false;
  }
  useFolders(context_, resolveFolders(env));
  if (ownPort_) ownPort_->setFolder(context_.linkFolder);
  const QString changed =
      QStringLiteral("Port 1 is now %1 (set in %2). ").arg(qs(target), qs(folder));
  return exchange(
      Exchange::Load, [this] { lastLoad_ = controller_->reopenLink(); },
      [this, changed] { statusText_->setText(changed + statusText_->text()); });
}

// --- File ------------------------------------------------------------------

void MainWindow::openSetup() {
  if (busy_) return;
  const QString path = chooser_->fileToOpen(this, setupFolder_);
  if (path.isEmpty()) return;
  setupFolder_ = QFileInfo(path).absolutePath();
  openSetupFrom(path, QFileInfo(path).fileName());
}

void MainWindow::restoreBackup() {
  if (busy_) return;
  std::vector<BackupEntry> list;
  try {
    list = controller_->backups();
  } catch (const BackupError& e) {
    notifier_->show({MessageKind::Other, e.what()});
    return;
  }
  if (list.empty()) {
    const std::string folder =
        context_.backupsDir.empty() ? std::string("the backups folder") : context_.backupsDir;
    notifier_->show({MessageKind::Other, "There is no backup yet. One is written to " + folder +
                                             " before every upload."});
    return;
  }
  const QString path = chooser_->backupToRestore(this, list, brokenUploadBackup_);
  if (path.isEmpty()) return;
  QString time = QFileInfo(path).fileName();
  for (const BackupEntry& b : list) {
    if (QString::fromStdString(b.path) == path) time = QString::fromStdString(b.time);
  }
  openSetupFrom(path, QStringLiteral("the backup of ") + time, true);
}

void MainWindow::openSetupFrom(const QString& path, const QString& what, bool backup) {
  bool opened = false;
  runHandler([&] {
    opened = backup ? controller_->openBackup(path.toStdString())
                    : controller_->openSetupFile(path.toStdString());
  });
  const QString when =
      QStringLiteral(" at ") + QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
  if (!opened) {
    statusText_->setText(QStringLiteral("Did not open ") + what + when);
    return;
  }
  int differing = 0;
  for (QLineEdit* box : entryBoxes_) differing += box->text().isEmpty() ? 0 : 1;
  if (differing == 0)
    statusText_->setText(QStringLiteral("Opened ") + what +
                         QStringLiteral(": it holds the unit's set-up; nothing to send") + when);
  else
    statusText_->setText(QStringLiteral("Opened %1: %2 %3, now in the boxes")
                             .arg(what)
                             .arg(differing)
                             .arg(differing == 1 ? QStringLiteral("value differs")
                                                 : QStringLiteral("values differ")) +
                         when);
}

void MainWindow::saveSetup() {
  if (busy_) return;
  const QString path =
      chooser_->fileToSave(this, suggestedSetupFile(setupFolder_, QDate::currentDate()));
  if (path.isEmpty()) return;
  setupFolder_ = QFileInfo(path).absolutePath();
  bool saved = false;
  runHandler([&] { saved = controller_->saveSetupFile(path.toStdString()); });
  const QString when =
      QStringLiteral(" at ") + QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
  statusText_->setText((saved ? QStringLiteral("Saved the unit's set-up to ")
                              : QStringLiteral("Did not save the set-up to ")) +
                       QFileInfo(path).fileName() + when);
}

void MainWindow::placeOnScreen() {
  const QSize wanted(px(kFormWidth), menuBar()->sizeHint().height() + px(kFormHeight) +
                                         statusBar()->sizeHint().height());
  centreOnScreen(this, wanted, style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

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

// --- the status bar ---------------------------------------------------------

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
  QString summary = exchangeSummary(r);
  if (!escaped_.isEmpty()) summary += QStringLiteral("; ") + escaped_;
  statusText_->setText(summary);
  lastSummary_ = summary;
}

// --- Help ---------------------------------------------------------------------

AboutFacts MainWindow::aboutFacts() {
  AboutFacts f;
  f.version = QString::fromLatin1(kVersion);
  f.referenceDatabase = QString::fromStdString(context_.referenceDatabase);
  f.referenceDatabaseFound = QFileInfo(f.referenceDatabase).isFile();
  f.settingsFile = QString::fromStdString(context_.settingsFile);
  f.settingsFileFound = QFileInfo(f.settingsFile).isFile();
  if (lastLoad_.outcome != LoadOutcome::Rejected) {
    try {
      f.portNumber = portNumberToInt16(context_.port.portNumber);
    } catch (const std::exception&) {
      f.portNumber = 0;
    }
  }
  if (f.portNumber > 0)
    f.device = QString::fromStdString(portDevice(context_.linkFolder, f.portNumber).path);
  // During an exchange the port is the exchange thread's: its state as the last one left it.
  f.portOpen = busy_ ? portOpen_ : controller_->port().isOpen();
  return f;
}

void MainWindow::showAbout() {
  auto* box = new QMessageBox(QMessageBox::NoIcon,
                              QStringLiteral("About ") + QString::fromLatin1(kAppTitle),
                              aboutText(aboutFacts()), QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("aboutBox"));
  box->setTextFormat(Qt::PlainText);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void MainWindow::openOperatorGuide() {
  const QString dir = QString::fromStdString(context_.programDir);
  const QString guide = findOperatorGuide(dir);
  if (guide.isEmpty()) {
    statusText_->setText(
        QStringLiteral("The operator's guide (README.md or the kuutil manual page) is not "
                       "installed beside the program"));
    return;
  }
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(guide)))
    statusText_->setText(QStringLiteral("Opened the operator's guide, ") + guide);
  else
    statusText_->setText(QStringLiteral("No program could open the operator's guide, ") + guide);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // The exchange finishes first (no frame is cut); the window closes right after it.
    if (!closePending_) {
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

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
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

// --- UnitView ---------------------------------------------------------------

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
