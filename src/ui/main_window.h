// MainWindow, the main window: the form with its 33 rows and three commands, a
// menu bar above it and a status bar below it, and the binding of its boxes,
// buttons and menus to UnitController.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>

#include "app/serial_ports.h"
#include "app/unit_controller.h"
#include "link/sleeper.h"
#include "link/wire_trace.h"
#include "ui/exchange_thread.h"
#include "ui/main_window_status.h"
#include "ui/setup_dialogs.h"

class QAction;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTimer;

namespace ku {
class QtSerialPort;
}

namespace ku::ui {

class GuideWindow;

// What the window's controller works with. Anything left empty gets the production
// default: the QtSerialPort of the program's folder, the modal message box, the
// real pauses, the reference database on mdbtools behind its cache and the
// serial ports Qt finds. The port and the pauses are used on the exchange thread.
struct MainWindowDeps {
  std::unique_ptr<SerialPort> port;
  Notifier* notifier = nullptr;
  Sleeper* sleeper = nullptr;
  ReferenceDatabaseOpener* opener = nullptr;
  std::function<std::vector<SerialPortEntry>()> listPorts;  // what Unit > Port... lists
  SetupFileChooser* chooser = nullptr;                      // the file dialogs of the File menu
  // The stop request of the process's signal handlers; none: exchanges are not stopped.
  const StopRequest* stop = nullptr;
  // Opens a device with the unit's line settings and closes it again, writing
  // nothing: empty when it opened, else why not. Unit > Port... tries the chosen
  // device with it before anything is changed; it runs on the exchange thread.
  std::function<std::string(const std::string& device)> tryPort;
  // The wire trace the link's events go to, kept by the caller (kuutil's
  // --trace or KU_TRACE); none: the window keeps its own, in memory only. Its
  // latest lines go into Help > Save diagnostic report....
  WireTrace* trace = nullptr;
};
using MainWindowDepsFactory = std::function<MainWindowDeps()>;

class MainWindow : public QMainWindow, public UnitView {
  Q_OBJECT

 public:
  explicit MainWindow(AppContext& context, MainWindowDeps deps = {});
  ~MainWindow() override;

  // Starts the load step (comms.ini, the port and the first read-back) on the
  // exchange thread; the window may be on screen meanwhile. exchangeFinished
  // tells its end, lastLoad how it ended.
  void load();
  const LoadResult& lastLoad() const { return lastLoad_; }
  // Sizes the window to its form, menu bar and status bar (cut to the screen,
  // the form then scrolling) and centres its frame on the screen.
  void placeOnScreen();

  UnitController& controller() { return *controller_; }
  // Whether an exchange with the unit is running: the controls that act on the
  // unit are disabled meanwhile, the rest of the window stays live.
  bool busy() const { return busy_; }
  // Whether a close request waits for the exchange to end.
  bool closePending() const { return closePending_; }

  // Unit > Read back: reads the unit back without uploading.
  void readBackUnit();
  // Unit > Port...: the port dialog, then usePort with the chosen port.
  void choosePort();
  // Makes port the window's port 1: on the exchange thread, opens the device
  // first; only when it opens are comms.ini and the com1 link written where the
  // program reads its settings, and then the port set up again and the unit
  // read back. When the device does not open or the files cannot be written, the
  // operator is told and the old settings and the old port stay. The device in
  // use changes nothing (false, as when an exchange runs); true once the
  // exchange has started.
  bool usePort(const SerialPortEntry& port);
  // File > Open set-up..., Save set-up... and Restore backup...: a set-up file
  // or backup opened goes into the boxes where it differs from the unit.
  void openSetup();
  void saveSetup();
  void restoreBackup();
  // Help > About, and Help > Operator's guide: the guide's window, made once and
  // brought to the front again after.
  void showAbout();
  void openOperatorGuide();
  // The facts the About box shows.
  AboutFacts aboutFacts();
  // Help > Save diagnostic report...: asks where, then writes the report there.
  void saveDiagnosticReport();
  // The report's text as it would be saved now.
  std::string diagnosticReportText();
  // Unit > Check connection...: the connection check on the exchange thread,
  // its lines then in a dialog (and kept, noteConnectionCheck).
  void checkConnection();
  // The connection check's result, as the operator saw it, for the report.
  void noteConnectionCheck(const QString& text) { connectionCheck_ = text; }

  // UnitView
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

 Q_SIGNALS:
  // An exchange with the unit (the load, a read-back, an upload, the close
  // byte) has ended and the window shows how.
  void exchangeFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class ExchangeNotifier;

  // The form in its scroll area, with everything on it.
  void buildForm();
  // The form with the menu bar above it and the status bar below it.
  QSize formSize();
  void buildRows();
  void buildButtons();
  void buildTabOrder();
  void buildMenus();
  void buildStatusBar();
  void connectHandlers();
  // Puts a set-up file into the boxes and says in the status bar what it changed.
  // backup: ask first when it is of another port or channel.
  void openSetupFrom(const QString& path, const QString& what, bool backup = false);
  // Runs one of the controller's handlers; a failure it lets through ends only that
  // handler and is named in the status bar.
  void runHandler(const std::function<void()>& handler);
  // Runs "Update" or "Default" and keeps how it ended for the status bar.
  void upload(const std::function<UploadOutcome()>& command);
  // Starts an exchange with the unit on the exchange thread, following it in
  // the status bar; then runs on this thread after the summary. False, and
  // nothing started, while another exchange runs.
  bool exchange(Exchange kind, std::function<void()> work, std::function<void()> then = {});
  // The window's end of an exchange: the controls back, the summary, the focus,
  // then a close that was asked for meanwhile.
  void exchangeEnded(Exchange kind, std::exception_ptr escaped, const std::function<void()>& then);
  // The close byte from the exchange thread, then the window closes.
  void unload();
  // On the exchange thread, before an exchange with the unit: after a lost line,
  // the port opened again. False when it did not open (the exchange then does
  // nothing else).
  bool lineBack();
  // The device port 1 opens now, as the About box names it; empty when none.
  QString deviceInUse();
  // Enables what acts on the unit when no exchange runs and the controller
  // wants it so; disables it during one.
  void applyControlStates();
  // Whether the controller may be run from this thread now: no exchange runs,
  // or the exchange waits for this thread's call.
  bool controllerFree() const;
  // Before any message box: the slot's range for "Enter Valid number".
  void beforeMessage(MessageKind kind);
  // Typing into another box than the one the range hint is about clears it.
  void clearRangeHint(int typedSlot);
  // Return in a box: the focus goes on to the next box that takes it.
  void focusNextBox(QLineEdit* from);
  // A change of the pulse-width box: the refresh, then what the text is read
  // as, in the status bar and the box's tooltip; an emptied box shows "0" selected.
  void pulseWidthChanged();

  // The status bar's progress.
  void beginProgress(Exchange kind);
  void showPhase(const char* text, int maximum, const QString& format);
  void bytesSent(std::size_t count);
  void readBackPhase(ReadBackPhase p);
  void pauseStarting(int ms);
  void pauseEnded(int ms);
  void pauseTick();
  void endProgress(Exchange kind);

  AppContext& context_;
  std::unique_ptr<Notifier> ownNotifier_;
  std::unique_ptr<Notifier> notifier_;  // an ExchangeNotifier around the given one
  std::unique_ptr<ExchangeThread> exchanges_;
  std::unique_ptr<UnitView> threadView_;      // this window, seen from the exchange thread
  std::unique_ptr<Notifier> threadNotifier_;  // notifier_, the same
  std::unique_ptr<RealSleeper> ownSleeper_;
  std::unique_ptr<Sleeper> sleeper_;
  std::unique_ptr<ReferenceDatabaseOpener> ownOpener_;
  std::unique_ptr<SetupFileChooser> ownChooser_;
  SetupFileChooser* chooser_ = nullptr;
  QString setupFolder_;  // where the last set-up file was opened or saved
  std::unique_ptr<UnitController> controller_;
  QtSerialPort* ownPort_ = nullptr;  // the window's own port, when no other was given
  std::function<std::vector<SerialPortEntry>()> listPorts_;
  std::function<std::string(const std::string&)> tryPort_;
  std::unique_ptr<WireTrace> ownTrace_;
  WireTrace* trace_ = nullptr;
  QString connectionCheck_;  // the connection check's lines, when it ran
  QString received_;         // what came in reply to "x", when the short-reply message was shown

  QWidget* form_ = nullptr;  // the 676 x 697 form that holds every control below
  QScrollArea* scroll_ = nullptr;
  std::array<QLabel*, kRowSlots> rowLabels_{};  // the parameter names
  std::array<QLabel*, kWindowRows> currentLabels_{};
  std::array<QLineEdit*, kRowSlots> entryBoxes_{};
  std::array<QLabel*, kWindowRows> referenceLabels_{};
  std::array<QLabel*, kWindowRows> referenceUnitLabels_{};
  std::array<QLabel*, kRowSlots> descriptionNameLabels_{};
  std::array<QLabel*, kRowSlots> descriptionLabels_{};
  std::array<QLabel*, kRowSlots> descriptionUnitLabels_{};
  QLabel* pulseWidthLabel_ = nullptr;
  QLineEdit* pulseWidthBox_ = nullptr;
  QPushButton* updateButton_ = nullptr;   // "Update"
  QPushButton* closeButton_ = nullptr;    // "Close"
  QPushButton* defaultButton_ = nullptr;  // "Default"

  QAction* readBackAction_ = nullptr;
  QAction* portAction_ = nullptr;
  QAction* checkConnectionAction_ = nullptr;
  QAction* openSetupAction_ = nullptr;
  QAction* saveSetupAction_ = nullptr;
  QAction* restoreBackupAction_ = nullptr;
  QAction* quitAction_ = nullptr;
  QAction* guideAction_ = nullptr;
  // Its own window, beside the main window rather than held above it.
  std::unique_ptr<GuideWindow> guide_;
  QAction* aboutAction_ = nullptr;
  QAction* reportAction_ = nullptr;
  QLabel* statusText_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QTimer* progressTimer_ = nullptr;  // moves the read-back's progress on during a pause

  enum class Phase { Idle, Opening, Uploading, Reading };
  Phase phase_ = Phase::Idle;
  std::size_t sent_ = 0;  // bytes of the upload sent so far
  int readMs_ = 0;        // read-back pauses passed so far
  int pauseMs_ = 0;       // the pause under way
  QElapsedTimer pauseClock_;
  bool readBackRan_ = false;
  bool requestSent_ = false;  // " " has gone: the read-back's seconds run
  LoadResult lastLoad_{LoadOutcome::Unlinked, 0, {}};

  int editingSlot_ = -1;        // the box whose change handling runs
  int rangeHintSlot_ = -1;      // the box whose allowed range the status bar shows
  QString lastSummary_;         // how the last exchange ended, as the status bar said
  QString brokenUploadBackup_;  // the backup from before the last upload, when its pass broke off
  bool busy_ = false;
  QPointer<QWidget> hadFocus_;   // where the focus was when the exchange started
  QPointer<QLineEdit> lastBox_;  // the box that had the focus last
  int focusAfter_ = -1;          // the box the exchange asked to focus, once it is over
  // What the controller asked of the commands; shown while no exchange runs.
  bool updateWanted_ = true, defaultWanted_ = true, closeWanted_ = true;
  bool portOpen_ = false;  // whether the port was open when the last exchange ended
  QString escaped_;        // what escaped a handler during the current exchange, for its summary
  bool closePending_ = false;
  UploadOutcome lastUpload_ = UploadOutcome::Sent;  // the last "Update" or "Default"
  int reopenCode_ = 0;       // the failed reopen after a lost line that ended this exchange
  std::string portRefusal_;  // why Unit > Port... changed nothing, during its exchange
  bool unloaded_ = false;
};

}  // namespace ku::ui
