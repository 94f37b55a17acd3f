#include "app/unit_controller.h"

#include <utility>

#include "app/operator_texts.h"
#include "model/log.h"

namespace ku {

namespace {

const char* loadOutcomeText(LoadOutcome outcome) {
  return outcome == LoadOutcome::Linked     ? "read back"
         : outcome == LoadOutcome::Rejected ? "invalid port"
                                            : "the port did not open";
}

const char* uploadOutcomeText(UploadOutcome outcome) {
  return outcome == UploadOutcome::Sent          ? "sent and read back"
         : outcome == UploadOutcome::UnreadSlots ? "refused, the last read-back left slots unread"
         : outcome == UploadOutcome::NoBackup    ? "refused, no backup"
                                                 : "refused, the reply was not the unit's record";
}

// " (error 5: text)" after an operation's outcome, or nothing when it had none.
std::string errorSuffix(int code, const std::string& text) {
  if (code == kNoError) return {};
  return " (error " + std::to_string(code) + (text.empty() ? "" : ": " + text) + ")";
}

}  // namespace

void initAppContext(AppContext& context, std::string programDir) {
  context.programDir = std::move(programDir);
  context.settingsFile = context.programDir + "/comms.ini";
  context.linkFolder = context.programDir;
  context.referenceDatabase = context.programDir + "/" + kReferenceDbName;
  // The values are the unit's own: the table, the window, JSON and set-up files
  // show them with "." and entries are read with "." whatever the desktop's
  // language, so that "1.5" never means one thing here and another there.
  context.locale = NumberLocale{"."};
}

UnitController::UnitController(AppContext& context, UnitView& view, Notifier& notifier,
                               Sleeper& sleeper, std::unique_ptr<SerialPort> port,
                               ReferenceDatabaseOpener& opener)
    : context_(context),
      view_(view),
      notifier_(notifier),
      link_(std::move(port), sleeper),
      lookups_(opener, context.referenceDatabase, context.lookups) {}

UnitController::~UnitController() = default;

EntryContext UnitController::entryContext() {
  return EntryContext{
      view_, notifier_, slotValues_, readBackValues_, entryAccepted_, context_.locale, [this] {
        refreshReferenceValues();
      }};
}

void UnitController::setProgressObserver(ExchangeObserver observer) {
  link_.setObserver(std::move(observer));
}

LoadResult UnitController::openLink(std::optional<std::int16_t> portNumberOverride) {
  // Ready first, before anything can fail; only the invalid-port outcome clears it.
  context_.port.portNumberAccepted = true;
  if (portNumberOverride)
    qCDebug(lcApp, "load begins: port %d", *portNumberOverride);
  else
    qCDebug(lcApp, "load begins: the port of %s", context_.settingsFile.c_str());
  return finishLoad(link_.openPort(context_.settingsFile, context_.port, portNumberOverride));
}

LoadResult UnitController::openLinkToDevice(const std::string& devicePath) {
  context_.port.portNumberAccepted = true;
  qCDebug(lcApp, "load begins: device %s", devicePath.c_str());
  return finishLoad(link_.openDevice(devicePath));
}

LoadResult UnitController::finishLoad(const LinkOutcome& opened) {
  // The decision rests on the last code only.
  LoadOutcome outcome = LoadOutcome::Unlinked;
  if (opened.code == kInvalidPortNumber) {
    notifier_.show({MessageKind::InvalidPort, {}});
    context_.port.portNumberAccepted = false;
    view_.setButtonEnabled(Button::Update, false);
    view_.setButtonEnabled(Button::Defaults, false);
    outcome = LoadOutcome::Rejected;
  }
  if (opened.code == kNoError) {
    readBack();
    outcome = LoadOutcome::Linked;
  }
  // Still "port already open" for the decisions above, but the operator can act
  // on this one: say which device and what to do.
  if (opened.code == kPortAlreadyOpen && !opened.accessDeniedDevice.empty())
    notifier_.show({MessageKind::NoAccess, opened.accessDeniedDevice});
  if (opened.code == kPortAlreadyOpen && !opened.heldDevice.empty())
    notifier_.show({MessageKind::HeldPort, opened.heldDevice});
  qCDebug(lcApp, "load ended: %s%s", loadOutcomeText(outcome),
          errorSuffix(opened.code, opened.text).c_str());
  return LoadResult{outcome, opened.code, opened.text};
}

void UnitController::closeLink() {
  // A rejected port number sends nothing; the port is left to close with the window.
  qCDebug(lcApp, "unload: %s",
          context_.port.portNumberAccepted ? "the close byte, then the port closes"
                                           : "a rejected port number sends nothing");
  if (context_.port.portNumberAccepted) link_.sendCloseByteAndClose();
}

LoadResult UnitController::reopenLink() {
  qCDebug(lcApp, "the port changed: the link opens again");
  disableCommands();
  if (link_.port().isOpen()) link_.sendCloseByteAndClose();
  forgetUnit();
  const LoadResult loaded = openLink();
  view_.setButtonEnabled(Button::Close, true);
  // A rejected port number keeps "Update" and "Default" disabled, as at load.
  if (loaded.outcome != LoadOutcome::Rejected) {
    view_.setButtonEnabled(Button::Update, true);
    view_.setButtonEnabled(Button::Defaults, true);
  }
  return loaded;
}

void UnitController::forgetUnit() {
  // Values from the port before must neither show nor be uploaded to this one.
  slotValues_ = {};
  readBackValues_ = {};
  readAtLastReadBack_ = {};
  slotsRead_ = 0;
  readBackRan_ = false;
  shownReplyJudged_ = false;
  for (int row = 0; row <= kRowSlots; ++row) {
    const FixedTexts& fixed = fixedTexts(row);
    if (row < kRowSlots) {
      view_.setCurrentValue(row, std::string());
      view_.setDescriptionValue(row, std::string());
    }
    view_.setReferenceValue(row, fixed.reference);
    view_.setReferenceUnit(row, fixed.referenceUnit);
  }
}

int UnitController::readBack() {
  qCDebug(lcApp, "read-back begins");
  const ReadBackOutcome got = link_.readBack();
  readBackRan_ = true;
  shownReplyJudged_ = false;
  // The exchange's and the decoding's last code goes on in the display steps.
  ErrorTrail trail;
  if (got.code != kNoError) trail.record(got.code, got.text);
  slotsRead_ = got.slotsRead();
  // Only a read-back that brought every slot empties the boxes; after one that
  // failed or broke off, what the operator typed stays and stays the working value.
  const bool complete = slotsRead_ == kRowSlots;
  for (int slot = 0; slot < kRowSlots; ++slot) {
    const SlotValue& v = got.values[static_cast<std::size_t>(slot)];
    readAtLastReadBack_[static_cast<std::size_t>(slot)] = v.has_value();
    if (!v) continue;  // a slot not reported keeps its working value and its last reading
    readBackValues_[static_cast<std::size_t>(slot)] = v;
    bool typed = false;
    if (!complete) trail.step([&] { typed = !view_.entryText(slot).empty(); });
    if (!typed) slotValues_[static_cast<std::size_t>(slot)] = v;
  }

  // The current-value column shows what this read-back brought, and nothing else.
  for (int row = 0; row < kRowSlots; ++row)
    trail.step([&] { view_.setCurrentValue(row, currentValueCaption(row, got.values[row])); });

  // The message's words stay the system's own; what came is its detail, for the
  // line a front end adds (not after a lost line, which has its own words).
  if (trail.last() == kInvalidArgument)
    notifier_.show({MessageKind::ShortReply,
                    link_.lineLost() ? std::string() : receivedText(link_.replyAsRead())});

  trail.step([&] { refreshReferenceValues(); });

  // Emptying a box that held text runs its change handling, which restores the
  // slot from the reading kept above.
  if (complete)
    for (int i = 0; i < kRowSlots; ++i) trail.step([&] { view_.setEntryText(i, std::string()); });
  lastReadBackCode_ = trail.last();
  qCDebug(lcApp, "read-back ended: %d of %d slots%s", slotsRead_, kRowSlots,
          errorSuffix(trail.last(), trail.lastText()).c_str());
  return lastReadBackCode_;
}

namespace {

std::vector<int> unreadAmong(const std::array<bool, kRowSlots>& read, int first, int last) {
  std::vector<int> unread;
  for (int slot = first; slot <= last; ++slot)
    if (!read[static_cast<std::size_t>(slot)]) unread.push_back(slot);
  return unread;
}

}  // namespace

std::vector<int> UnitController::unreadSlotsToSave() const {
  return unreadAmong(readAtLastReadBack_, 0, kRowSlots - 1);
}

std::vector<int> UnitController::unreadSlotsToCompare() const {
  return unreadAmong(readAtLastReadBack_, 1, kValueSlots - 1);
}

std::vector<int> UnitController::unreadSlotsToUpload(UploadKind kind,
                                                     const EnteredSlots& entered) const {
  return unreadSlotsToSend(kind, unreadAtLastReadBack(), entered);
}

int UnitController::sendSlotValues() {
  UploadValues values{};
  for (int s = 0; s < kValueSlots; ++s) values[s] = valueOf(slotValues_[s]);
  qCDebug(lcApp, "upload of the working values begins");
  return finishUpload(link_.upload(values));
}

int UnitController::sendDefaultValues() {
  qCDebug(lcApp, "upload of the defaults begins");
  return finishUpload(link_.upload(defaultUploadValues(valueOf(slotValues_[0]))));
}

int UnitController::finishUpload(const UploadPassOutcome& uploaded) {
  // One message after the pass, when its last failure was a value outside 0..255.
  if (uploaded.code == kInvalidArgument) notifier_.show({MessageKind::ValueLimit, {}});
  qCDebug(lcApp, "upload ended%s", errorSuffix(uploaded.code, uploaded.text).c_str());
  lastUploadCode_ = uploaded.code;
  lastUploadBreak_ = uploaded.broke;
  // A pass that broke off says so at once, before the read-back after it.
  if (const auto& b = uploaded.broke)
    notifier_.show(
        {MessageKind::UploadBroken, uploadBrokenText(b->sent, b->total, b->slot, lastBackupPath_)});
  return lastUploadCode_;
}

void UnitController::refreshReferenceValues() {
  const std::string pulseWidth = view_.pulseWidthText();
  ReferenceInputs in{slotValues_, pulseWidth, context_.port.portNumberAccepted, context_.locale};
  try {
    ku::refreshReferenceValues(in, lookups_, context_.lookups, view_);
    lastRefreshError_.clear();
  } catch (const KuError& e) {
    lastRefreshError_ = e.what();
    qCDebug(lcApp, "reference refresh failed: %s", e.what());
    throw;
  }
}

int UnitController::typedEntryCount() const {
  int typed = 0;
  for (int k = 0; k < kRowSlots; ++k) typed += view_.entryText(k).empty() ? 0 : 1;
  return typed;
}

bool UnitController::mayDiscardTypedEntries() {
  const int typed = typedEntryCount();
  if (typed == 0) return true;
  return view_.confirm("Discard " + std::to_string(typed) +
                       (typed == 1 ? " typed entry?" : " typed entries?"));
}

void UnitController::keepOnlyWhatWasReadBack() {
  for (int s = 0; s < kRowSlots; ++s)
    if (!readAtLastReadBack_[static_cast<std::size_t>(s)])
      slotValues_[static_cast<std::size_t>(s)].reset();
  try {
    refreshReferenceValues();
  } catch (const KuError&) {
    // Kept in lastRefreshError.
  }
}

void UnitController::enableCommands() {
  view_.setButtonEnabled(Button::Update, true);
  view_.setButtonEnabled(Button::Close, true);
  view_.setButtonEnabled(Button::Defaults, true);
}

void UnitController::disableCommands() {
  view_.setButtonEnabled(Button::Update, false);
  view_.setButtonEnabled(Button::Close, false);
  view_.setButtonEnabled(Button::Defaults, false);
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

UploadOutcome UnitController::runUpdateCommand(const char* backupReason) {
  return runUploadCommand(UploadKind::Entries, backupReason);
}

UploadOutcome UnitController::runDefaultCommand() {
  return runUploadCommand(UploadKind::Defaults, kBackupBeforeDefaults);
}

UploadOutcome UnitController::runUploadCommand(UploadKind kind, const char* backupReason) {
  const char* command = kind == UploadKind::Defaults ? "\"Default\"" : "\"Update\"";
  qCDebug(lcApp, "%s begins", command);
  const UploadOutcome guard = guardUpload(kind, backupReason);
  if (guard == UploadOutcome::Sent) {
    disableCommands();
    if (kind == UploadKind::Defaults)
      sendDefaultValues();
    else
      sendSlotValues();
    readBack();
    enableCommands();
  }
  qCDebug(lcApp, "%s ended: %s", command, uploadOutcomeText(guard));
  return guard;
}

// ---------------------------------------------------------------------------

RecordingUnitView::RecordingUnitView() {
  for (int r = 0; r < kWindowRows; ++r) {
    const FixedTexts& fixed = fixedTexts(r);
    rows[r].reference = fixed.reference;
    rows[r].referenceUnit = fixed.referenceUnit;
    if (r < kRowSlots) {
      rows[r].descriptionName = fixed.descriptionName;
      rows[r].descriptionUnit = fixed.descriptionUnit;
    }
  }
  rows[kPulseWidthRow].current = "N/A";
}

std::string RecordingUnitView::entryText(int slot) const {
  return rows[slot].entry;
}

void RecordingUnitView::setEntryText(int slot, const std::string& text) {
  if (rows[slot].entry == text) return;
  rows[slot].entry = text;
  if (controller_) controller_->entryEdited(slot);
}

void RecordingUnitView::setPulseWidthText(const std::string& text) {
  if (pulseWidth == text) return;
  pulseWidth = text;
  if (controller_) controller_->pulseWidthEdited();
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
bool RecordingUnitView::confirm(const std::string& question) {
  questions.push_back(question);
  return answer;
}

void RecordingUnitView::setButtonEnabled(Button b, bool enabled) {
  switch (b) {
    case Button::Update:
      updateEnabled = enabled;
      break;
    case Button::Close:
      closeEnabled = enabled;
      break;
    case Button::Defaults:
      defaultEnabled = enabled;
      break;
  }
}

}  // namespace ku
