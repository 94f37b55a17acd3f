// Form1, the main window: the 33 rows, the three commands, and the binding of
// its boxes and buttons to Form1Core.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "app/form1_core.h"
#include "link/sleeper.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ku::ui {

// What the window's core works with. Anything left empty gets the production
// default: the QtSerialPort of the program's folder, the modal message box, the
// real pauses (repainting while they wait) and the reference database on mdbtools
// behind its cache.
struct Form1Deps {
  std::unique_ptr<SerialPort> port;
  Notifier* notifier = nullptr;
  Sleeper* sleeper = nullptr;
  ReferenceDatabaseOpener* opener = nullptr;
};
using Form1DepsFactory = std::function<Form1Deps()>;

class Form1 : public QWidget, public Form1View {
  Q_OBJECT

 public:
  explicit Form1(Module1& module, Form1Deps deps = {});
  ~Form1() override;

  // The load step: comms.ini, the port and the first read-back. Runs before the
  // window is first shown.
  LoadResult load();

  Form1Core& core() { return *core_; }
  // Whether an exchange with the unit is running (its input is held meanwhile).
  bool busy() const { return busy_ > 0; }

  // Form1View
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

  Module1& module_;
  std::unique_ptr<Notifier> ownNotifier_;
  std::unique_ptr<RealSleeper> ownSleeper_;
  std::unique_ptr<ReferenceDatabaseOpener> ownOpener_;
  std::unique_ptr<Form1Core> core_;

  std::array<QLabel*, 32> rowLabels_{};  // Label5 .. Label36
  std::array<QLabel*, 33> label37_{};
  std::array<QLineEdit*, 32> text1_{};
  std::array<QLabel*, 33> label38_{};
  std::array<QLabel*, 33> label39_{};
  std::array<QLabel*, 32> label40_{};
  std::array<QLabel*, 32> label41_{};
  std::array<QLabel*, 32> label42_{};
  QLabel* label43_ = nullptr;
  QLineEdit* text2_ = nullptr;
  QPushButton* command1_ = nullptr;  // "Update"
  QPushButton* command2_ = nullptr;  // "Close"
  QPushButton* command3_ = nullptr;  // "Default"

  int busy_ = 0;
  bool closePending_ = false;
  bool unloaded_ = false;
};

}  // namespace ku::ui
