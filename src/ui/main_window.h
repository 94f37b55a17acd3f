// MainWindow, the main window: the 33 rows, the three commands, and the binding of
// its boxes and buttons to UnitController.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "app/unit_controller.h"
#include "link/sleeper.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ku::ui {

// What the window's core works with. Anything left empty gets the production
// default: the QtSerialPort of the program's folder, the modal message box, the
// real pauses (repainting while they wait) and the reference database on mdbtools
// behind its cache.
struct MainWindowDeps {
  std::unique_ptr<SerialPort> port;
  Notifier* notifier = nullptr;
  Sleeper* sleeper = nullptr;
  ReferenceDatabaseOpener* opener = nullptr;
};
using MainWindowDepsFactory = std::function<MainWindowDeps()>;

class MainWindow : public QWidget, public UnitView {
  Q_OBJECT

 public:
  explicit MainWindow(AppContext& module, MainWindowDeps deps = {});
  ~MainWindow() override;

  // The load step: comms.ini, the port and the first read-back. Runs before the
  // window is first shown.
  LoadResult load();

  UnitController& core() { return *core_; }
  // Whether an exchange with the unit is running (its input is held meanwhile).
  bool busy() const { return busy_ > 0; }

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

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildRows();
  void buildButtons();
  void buildTabOrder();
  void connectHandlers();
  // Runs one of the core's handlers; a failure it lets through ends only that handler.
  void guarded(const std::function<void()>& handler);
  // Runs an exchange with the unit under the busy cursor.
  void exchange(const std::function<void()>& work);

  AppContext& module_;
  std::unique_ptr<Notifier> ownNotifier_;
  std::unique_ptr<RealSleeper> ownSleeper_;
  std::unique_ptr<ReferenceDatabaseOpener> ownOpener_;
  std::unique_ptr<UnitController> core_;

  std::array<QLabel*, 32> rowLabels_{};  // the parameter names
  std::array<QLabel*, 33> currentLabels_{};
  std::array<QLineEdit*, 32> entryBoxes_{};
  std::array<QLabel*, 33> referenceLabels_{};
  std::array<QLabel*, 33> referenceUnitLabels_{};
  std::array<QLabel*, 32> descriptionNameLabels_{};
  std::array<QLabel*, 32> descriptionLabels_{};
  std::array<QLabel*, 32> descriptionUnitLabels_{};
  QLabel* pulseWidthLabel_ = nullptr;
  QLineEdit* pulseWidthBox_ = nullptr;
  QPushButton* updateButton_ = nullptr;   // "Update"
  QPushButton* closeButton_ = nullptr;    // "Close"
  QPushButton* defaultButton_ = nullptr;  // "Default"

  int busy_ = 0;
  bool closePending_ = false;
  bool unloaded_ = false;
};

}  // namespace ku::ui
