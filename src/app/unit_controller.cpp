#include "app/unit_controller.h"

#include <utility>

namespace ku {

void initAppContext(AppContext& m, std::string programDir) {
  fillTables(m.tables);
  m.programDir = std::move(programDir);
  m.settingsFile = m.programDir + "/comms.ini";
  m.linkFolder = m.programDir;
  m.referenceDatabase = m.programDir + "/" + kReferenceDbName;
  m.locale = NumberLocale::system();
}

UnitController::UnitController(AppContext& module, UnitView& view, Notifier& notifier,
                               Sleeper& sleeper, std::unique_ptr<SerialPort> port,
                               ReferenceDatabaseOpener& opener)
    : m_(module),
      view_(view),
      notifier_(notifier),
      sleeper_(sleeper),
      port_(std::move(port)),
      lookups_(opener, module.referenceDatabase, module.lookups) {}

UnitController::~UnitController() = default;

LinkContext UnitController::linkContext() {
  return LinkContext{*port_, sleeper_, notifier_, slotValues_, readBackValues_};
}

EntryContext UnitController::entryContext() {
  return EntryContext{
      view_, notifier_, slotValues_, readBackValues_, entryAccepted, m_.locale, [this] {
        refreshReferenceValues();
      }};
}

LoadResult UnitController::openLink(std::optional<std::int16_t> portNumberOverride) {
  return loadStep(m_.settingsFile, m_.port, *port_, notifier_, *this, portNumberOverride);
}

void UnitController::closeLink() {
  closeStep(m_.port, *port_);
}

int UnitController::readBack() {
  LinkContext ctx = linkContext();
  lastReadBackCode_ = ku::readBack(ctx, *this);
  return lastReadBackCode_;
}

int UnitController::uploadSetup() {
  LinkContext ctx = linkContext();
  lastUploadCode_ = ku::uploadSetup(ctx, m_.tables);
  return lastUploadCode_;
}

int UnitController::uploadDefaultSetup() {
  LinkContext ctx = linkContext();
  lastUploadCode_ = ku::uploadDefaultSetup(ctx, m_.tables);
  return lastUploadCode_;
}

void UnitController::refreshReferenceValues() {
  const std::string pulseWidth = view_.pulseWidthText();
  ReferenceInputs in{m_.tables, slotValues_, pulseWidth, m_.port.ready, m_.locale};
  try {
    ku::refreshReferenceValues(in, lookups_, m_.lookups, view_);
    lastRefreshError_.clear();
  } catch (const KuError& e) {
    lastRefreshError_ = e.what();
    throw;
  }
}

void UnitController::refreshIgnoringFailure() {
  try {
    refreshReferenceValues();
  } catch (const KuError&) {
  }
}

void UnitController::enableCommands() {
  view_.setButtonEnabled(Button::Update, true);
  view_.setButtonEnabled(Button::Close, true);
  view_.setButtonEnabled(Button::Default, true);
}

void UnitController::disableCommands() {
  view_.setButtonEnabled(Button::Update, false);
  view_.setButtonEnabled(Button::Close, false);
  view_.setButtonEnabled(Button::Default, false);
}

void UnitController::entryEdited(int index) {
  EntryContext ctx = entryContext();
  ku::entryEdited(ctx, index);
}

void UnitController::entryLeft(int index) {
  EntryContext ctx = entryContext();
  ku::entryLeft(ctx, index);
}

void UnitController::pulseWidthEdited() {
  EntryContext ctx = entryContext();
  ku::pulseWidthEdited(ctx);
}

void UnitController::uploadEntries() {
  disableCommands();
  uploadSetup();
  readBack();
  enableCommands();
}

void UnitController::uploadDefaults() {
  disableCommands();
  uploadDefaultSetup();
  readBack();
  enableCommands();
}

void UnitController::showCurrentValue(int row, const std::string& text) {
  view_.setCurrentValue(row, text);
}

void UnitController::refresh() {
  refreshReferenceValues();
}

void UnitController::clearEntry(int slot) {
  view_.setEntryText(slot, std::string());
}

void UnitController::disableUpdateAndDefault() {
  view_.setButtonEnabled(Button::Update, false);
  view_.setButtonEnabled(Button::Default, false);
}

void UnitController::runReadBack() {
  readBack();
}

// ---------------------------------------------------------------------------

namespace {
const FixedTexts kNone{"", "", "", ""};
const FixedTexts kNA{"N/A", "", "", ""};
const FixedTexts kFixed[33] = {
    kNA,                                 // 0
    kNone,                               // 1
    kNone,                               // 2
    {"", "Band", "Test Signal", ""},     // 3
    {"", "kHz", "", ""},                 // 4
    {"", "kHz", "IF Frequency", "kHz"},  // 5
    {"", "Slope", "NB Toggles", ""},     // 6
    {"", "ms", "NB Enab/Disb", ""},      // 7
    {"", "Volt", "", ""},                // 8
    {"", "Volt", "", ""},                // 9
    {"", "kHz", "", ""},                 // 10
    {"", "ms", "", ""},                  // 11
    {"NA", "", "", ""},                  // 12
    {"", "kHz", "PHI-2 Angle", "Deg"},   // 13
    {"", "kHz", "PHI-1 Angle", "Deg"},   // 14
    {"", "kHz", "Min Depth", "m"},       // 15
    {"", "kHz", "Max Depth", "m"},       // 16
    {"", "kHz", "", ""},                 // 17
    {"", "%", "", ""},                   // 18
    {"", "%", "", ""},                   // 19
    {"", "%", "VR1 Resistor", "kohm"},   // 20
    kNA,
    kNA,
    kNA,
    kNA,
    kNA,
    kNA,                        // 21..26
    {"", "kohm", "", ""},       // 27
    {"", "kohm", "", ""},       // 28
    kNone,                      // 29
    kNone,                      // 30
    kNone,                      // 31
    {"", "milli sec", "", ""},  // 32: the pulse-width row
};
}  // namespace

const FixedTexts& fixedTexts(int row) {
  return kFixed[row];
}

RecordingUnitView::RecordingUnitView() {
  for (int r = 0; r < 33; ++r) {
    rows[r].reference = kFixed[r].reference;
    rows[r].referenceUnit = kFixed[r].referenceUnit;
    if (r < 32) {
      rows[r].descriptionName = kFixed[r].descriptionName;
      rows[r].descriptionUnit = kFixed[r].descriptionUnit;
    }
  }
  rows[32].current = "N/A";
}

std::string RecordingUnitView::entryText(int slot) const {
  return rows[slot].entry;
}

void RecordingUnitView::setEntryText(int slot, const std::string& text) {
  if (rows[slot].entry == text) return;
  rows[slot].entry = text;
  if (core_) core_->entryEdited(slot);
}

void RecordingUnitView::setPulseWidthText(const std::string& text) {
  if (pulseWidth == text) return;
  pulseWidth = text;
  if (core_) core_->pulseWidthEdited();
}

void RecordingUnitView::setReferenceValue(int row, const std::string& text) {
  rows[row].reference = text;
}
void RecordingUnitView::setReferenceUnit(int row, const std::string& text) {
  rows[row].referenceUnit = text;
}
void RecordingUnitView::setDescriptionValue(int row, const std::string& text) {
  rows[row].description = text;
}
void RecordingUnitView::setCurrentValue(int row, const std::string& text) {
  rows[row].current = text;
}
void RecordingUnitView::setButtonEnabled(Button b, bool enabled) {
  switch (b) {
    case Button::Update:
      updateEnabled = enabled;
      break;
    case Button::Close:
      closeEnabled = enabled;
      break;
    case Button::Default:
      defaultEnabled = enabled;
      break;
  }
}

}  // namespace ku
