// The main window's behaviour without widgets: what the main window and kuctl both run.
// It owns the port, SlotValues, ReadBackValues and entryAccepted; the display
// steps go to a UnitView that the window (or kuctl, or a test) implements.
#pragma once

#include <memory>
#include <string>

#include "entry/entry.h"
#include "link/link.h"
#include "model/errors.h"
#include "reference/lookups.h"
#include "reference/reference_values.h"

namespace ku {

// The start-up module's tables and shared values, alive for the whole run.
struct AppContext {
  Tables tables;
  LinkState port;
  LookupValues lookups;
  std::string programDir;  // the program's own folder, no trailing separator
  // comms.ini, the folder of the comN links and TKUUtil.mdb: all in the program's
  // folder unless the front end chose standard folders (app/folders.h).
  std::string settingsFile;
  std::string linkFolder;
  std::string referenceDatabase;
  NumberLocale locale;
};

// The start-up procedure's first work: the tables, in their fixed order.
void initAppContext(AppContext& m, std::string programDir);

enum class Button { Update, Close, Default };

// Everything the main window shows and holds as text.
class UnitView : public EntryBoxes, public ReferenceCells {
 public:
  virtual void setCurrentValue(int row, const std::string& text) = 0;  // current-value column
  virtual void setButtonEnabled(Button b, bool enabled) = 0;
};

class UnitController : private ReadBackHooks, private LoadHooks {
 public:
  UnitController(AppContext& module, UnitView& view, Notifier& notifier, Sleeper& sleeper,
                 std::unique_ptr<SerialPort> port, ReferenceDatabaseOpener& opener);
  ~UnitController() override;

  // Load and unload steps. An override port number stands in for comms.ini.
  LoadResult openLink(std::optional<std::int16_t> portNumberOverride = std::nullopt);
  void closeLink();

  // The window's methods.
  int readBack();
  int uploadSetup();
  int uploadDefaultSetup();
  void refreshReferenceValues();  // throws on failure, like the refresh it runs
  void enableCommands();
  void disableCommands();

  // Event handlers.
  void entryEdited(int index);
  void entryLeft(int index);
  void pulseWidthEdited();
  // "Update" and "Default": disableCommands, upload, verify, enableCommands.
  void uploadEntries();
  void uploadDefaults();

  const SlotValueArray& slotValues() const { return slotValues_; }
  const ReadBackArray& readBackValues() const { return readBackValues_; }
  SerialPort& port() { return *port_; }
  // Last codes of the most recent read-back and upload, for kuctl's exit status.
  int lastReadBackCode() const { return lastReadBackCode_; }
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
  void runReadBack() override;

  void refreshIgnoringFailure();
  EntryContext entryContext();
  LinkContext linkContext();

  AppContext& m_;
  UnitView& view_;
  Notifier& notifier_;
  Sleeper& sleeper_;
  std::unique_ptr<SerialPort> port_;
  ReferenceLookups lookups_;
  SlotValueArray slotValues_{};
  ReadBackArray readBackValues_{};
  bool entryAccepted = false;
  int lastReadBackCode_ = 0;
  int lastUploadCode_ = 0;
  std::string lastRefreshError_;
};

// The texts of one row of the main window, left to right.
struct RowTexts {
  std::string current;    // what the unit reported
  std::string entry;      // the new-value box
  std::string reference;  // the value in engineering units, or its meaning
  std::string referenceUnit;
  std::string descriptionName;  // fixed
  std::string description;      // a second derived figure
  std::string descriptionUnit;  // fixed
};

// A UnitView that keeps every text in memory and raises the change handling the
// way text boxes do. kuctl and the tests use it; the window has its own.
class RecordingUnitView : public UnitView {
 public:
  void attach(UnitController* core) { core_ = core; }

  std::string entryText(int slot) const override;
  void setEntryText(int slot, const std::string& text) override;
  void focusEntry(int slot) override { focused = slot; }
  std::string pulseWidthText() const override { return pulseWidth; }
  void setPulseWidthText(const std::string& text) override;
  void setReferenceValue(int row, const std::string& text) override;
  void setReferenceUnit(int row, const std::string& text) override;
  void setDescriptionValue(int row, const std::string& text) override;
  void setCurrentValue(int row, const std::string& text) override;
  void setButtonEnabled(Button b, bool enabled) override;

  // The window's texts, starting as its fixed layout texts: rows 0..31 are the
  // slots, row 32 the pulse-width row (its current value reads "N/A").
  std::array<RowTexts, 33> rows{};
  std::string pulseWidth = "0";
  bool updateEnabled = true, closeEnabled = true, defaultEnabled = true;
  int focused = -1;

  RecordingUnitView();

 private:
  UnitController* core_ = nullptr;
};

// The fixed texts of the main window's reference and description columns.
struct FixedTexts {
  const char* reference;
  const char* referenceUnit;
  const char* descriptionName;
  const char* descriptionUnit;
};
const FixedTexts& fixedTexts(int row);  // rows 0..32

}  // namespace ku
