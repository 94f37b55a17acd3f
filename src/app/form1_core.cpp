#include "app/form1_core.h"

#include <utility>

namespace ku {

void startUp(Module1& m, std::string programDir) {
  fillTables(m.tables);
  m.programDir = std::move(programDir);
  m.locale = NumberLocale::system();
}

Form1Core::Form1Core(Module1& module, Form1View& view, Notifier& notifier, Sleeper& sleeper,
                     std::unique_ptr<SerialPort> port, ReferenceDatabaseOpener& opener)
    : m_(module),
      view_(view),
      notifier_(notifier),
      sleeper_(sleeper),
      port_(std::move(port)),
      lookups_(opener, module.programDir + "/" + kReferenceDbName, module.lookups) {}

Form1Core::~Form1Core() = default;

LinkContext Form1Core::linkContext() {
  return LinkContext{*port_, sleeper_, notifier_, slotValues_, readBackValues_};
}

EntryContext Form1Core::entryContext() {
  return EntryContext{view_,         notifier_, slotValues_,         readBackValues_,
                      EntryAccepted, m_.locale, [this] { refval(); }};
}

LoadResult Form1Core::Form_Load(std::optional<std::int16_t> portNumberOverride) {
  return loadStep(m_.programDir + "/comms.ini", m_.port, *port_, notifier_, *this,
                  portNumberOverride);
}

void Form1Core::Form_Unload() {
  closeStep(m_.port, *port_);
}

int Form1Core::verify() {
  LinkContext ctx = linkContext();
  lastVerifyCode_ = ku::verify(ctx, *this);
  return lastVerifyCode_;
}

int Form1Core::LoadJam() {
  LinkContext ctx = linkContext();
  lastUploadCode_ = ku::LoadJam(ctx, m_.tables);
  return lastUploadCode_;
}

int Form1Core::LoadDefJam() {
  LinkContext ctx = linkContext();
  lastUploadCode_ = ku::LoadDefJam(ctx, m_.tables);
  return lastUploadCode_;
}

void Form1Core::refval() {
  const std::string pulseWidth = view_.pulseWidthText();
  RefvalInputs in{m_.tables, slotValues_, pulseWidth, m_.port.PortReady, m_.locale};
  try {
    ku::refval(in, lookups_, m_.lookups, view_);
    lastRefreshError_.clear();
  } catch (const KuError& e) {
    lastRefreshError_ = e.what();
    throw;
  }
}

void Form1Core::refreshIgnoringFailure() {
  try {
    refval();
  } catch (const KuError&) {
  }
}

void Form1Core::ButtonEnab() {
  view_.setButtonEnabled(Button::Update, true);
  view_.setButtonEnabled(Button::Close, true);
  view_.setButtonEnabled(Button::Default, true);
}

void Form1Core::ButtonDisab() {
  view_.setButtonEnabled(Button::Update, false);
  view_.setButtonEnabled(Button::Close, false);
  view_.setButtonEnabled(Button::Default, false);
}

void Form1Core::Text1_Change(int index) {
  EntryContext ctx = entryContext();
  ku::Text1_Change(ctx, index);
}

void Form1Core::Text1_LostFocus(int index) {
  EntryContext ctx = entryContext();
  ku::Text1_LostFocus(ctx, index);
}

void Form1Core::Text2_Change() {
  EntryContext ctx = entryContext();
  ku::Text2_Change(ctx);
}

void Form1Core::Command1_Click() {
  ButtonDisab();
  LoadJam();
  verify();
  ButtonEnab();
}

void Form1Core::Command3_Click() {
  ButtonDisab();
  LoadDefJam();
  verify();
  ButtonEnab();
}

void Form1Core::showCurrentValue(int row, const std::string& text) {
  view_.setCurrentValue(row, text);
}

void Form1Core::refresh() {
  refval();
}

void Form1Core::clearEntry(int slot) {
  view_.setEntryText(slot, std::string());
}

void Form1Core::disableUpdateAndDefault() {
  view_.setButtonEnabled(Button::Update, false);
  view_.setButtonEnabled(Button::Default, false);
}

void Form1Core::runVerify() {
  verify();
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

MemoryForm1View::MemoryForm1View() {
  for (int r = 0; r < 33; ++r) {
    label38[r] = kFixed[r].label38;
    label39[r] = kFixed[r].label39;
    if (r < 32) {
      label40[r] = kFixed[r].label40;
      label42[r] = kFixed[r].label42;
    }
  }
  label37[32] = "N/A";
}

std::string MemoryForm1View::entryText(int slot) const {
  return text1.at(slot);
}

void MemoryForm1View::setEntryText(int slot, const std::string& text) {
  if (text1.at(slot) == text) return;
  text1[slot] = text;
  if (core_) core_->Text1_Change(slot);
}

void MemoryForm1View::setPulseWidthText(const std::string& text) {
  if (text2 == text) return;
  text2 = text;
  if (core_) core_->Text2_Change();
}

void MemoryForm1View::setReferenceValue(int row, const std::string& text) {
  label38.at(row) = text;
}
void MemoryForm1View::setReferenceUnit(int row, const std::string& text) {
  label39.at(row) = text;
}
void MemoryForm1View::setDescriptionValue(int row, const std::string& text) {
  label41.at(row) = text;
}
void MemoryForm1View::setCurrentValue(int row, const std::string& text) {
  label37.at(row) = text;
}
void MemoryForm1View::setButtonEnabled(Button b, bool enabled) {
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
