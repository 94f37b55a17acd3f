// The main window's behaviour without widgets: what Form1 and kuctl both run.
// It owns the port, SlotValues, ReadBackValues and EntryAccepted; the display
// steps go to a Form1View that the window (or kuctl, or a test) implements.
#pragma once

#include <memory>
#include <string>

#include "entry/entry.h"
#include "link/link.h"
#include "model/errors.h"
#include "reference/lookups.h"
#include "reference/refval.h"

namespace ku {

// The start-up module's tables and shared values, alive for the whole run.
struct Module1 {
  Tables tables;
  PortState port;
  LookupValues lookups;
  std::string programDir;  // the program's own folder, no trailing separator
  NumberLocale locale;
};

// The start-up procedure's first work: the tables, in their fixed order.
void startUp(Module1& m, std::string programDir);

enum class Button { Update, Close, Default };  // Command1, Command2, Command3

// Everything the main window shows and holds as text.
class Form1View : public EntryBoxes, public ReferenceCells {
 public:
  virtual void setCurrentValue(int row, const std::string& text) = 0;  // Label37
  virtual void setButtonEnabled(Button b, bool enabled) = 0;
};

class Form1Core : private ReadBackHooks, private LoadHooks {
 public:
  Form1Core(Module1& module, Form1View& view, Notifier& notifier, Sleeper& sleeper,
            std::unique_ptr<SerialPort> port, ReferenceDatabaseOpener& opener);
  ~Form1Core() override;

  // Load and unload steps. An override port number stands in for comms.ini.
  LoadResult Form_Load(std::optional<std::int16_t> portNumberOverride = std::nullopt);
  void Form_Unload();

  // The window's methods.
  int verify();
  int LoadJam();
  int LoadDefJam();
  void refval();  // throws on failure, like the refresh it runs
  void ButtonEnab();
  void ButtonDisab();

  // Event handlers.
  void Text1_Change(int index);
  void Text1_LostFocus(int index);
  void Text2_Change();
  // "Update" and "Default": ButtonDisab, upload, verify, ButtonEnab.
  void Command1_Click();
  void Command3_Click();

  const SlotValueArray& slotValues() const { return slotValues_; }
  const ReadBackArray& readBackValues() const { return readBackValues_; }
  SerialPort& port() { return *port_; }
  // Last codes of the most recent read-back and upload, for kuctl's exit status.
  int lastVerifyCode() const { return lastVerifyCode_; }
  int lastUploadCode() const { return lastUploadCode_; }
  // The last refresh's failure, empty when it completed.
  const std::string& lastRefreshError() const { return lastRefreshError_; }

 private:
  // ReadBackHooks
  void showCurrentValue(int row, const std::string& text) override;
  void refresh() override;
  void clearEntry(int slot) override;
  // LoadHooks
  void disableUpdateAndDefault() override;
  void runVerify() override;

  void refreshIgnoringFailure();
  EntryContext entryContext();
  LinkContext linkContext();

  Module1& m_;
  Form1View& view_;
  Notifier& notifier_;
  Sleeper& sleeper_;
  std::unique_ptr<SerialPort> port_;
  ReferenceLookups lookups_;
  SlotValueArray slotValues_{};
  ReadBackArray readBackValues_{};
  bool EntryAccepted = false;
  int lastVerifyCode_ = 0;
  int lastUploadCode_ = 0;
  std::string lastRefreshError_;
};

// A Form1View that keeps every text in memory and raises the change handling the
// way text boxes do. kuctl and the tests use it; the window has its own.
class MemoryForm1View : public Form1View {
 public:
  void attach(Form1Core* core) { core_ = core; }

  std::string entryText(int slot) const override;
  void setEntryText(int slot, const std::string& text) override;
  void focusEntry(int slot) override { focused = slot; }
  std::string pulseWidthText() const override { return text2; }
  void setPulseWidthText(const std::string& text) override;
  void setReferenceValue(int row, const std::string& text) override;
  void setReferenceUnit(int row, const std::string& text) override;
  void setDescriptionValue(int row, const std::string& text) override;
  void setCurrentValue(int row, const std::string& text) override;
  void setButtonEnabled(Button b, bool enabled) override;

  // The window's texts, starting as its fixed layout texts.
  std::array<std::string, 33> label37{};  // current value (row 32: "N/A")
  std::array<std::string, 33> label38{};  // reference value
  std::array<std::string, 33> label39{};  // reference unit
  std::array<std::string, 32> label40{};  // description name (fixed)
  std::array<std::string, 32> label41{};  // description value
  std::array<std::string, 32> label42{};  // description unit (fixed)
  std::array<std::string, 32> text1{};
  std::string text2 = "0";
  bool updateEnabled = true, closeEnabled = true, defaultEnabled = true;
  int focused = -1;

  MemoryForm1View();

 private:
  Form1Core* core_ = nullptr;
};

// The fixed texts of the main window's reference and description columns.
struct FixedTexts {
  const char* label38;
  const char* label39;
  const char* label40;
  const char* label42;
};
const FixedTexts& fixedTexts(int row);  // rows 0..32

}  // namespace ku
