#include "link/unit_link.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "model/errors.h"
#include "model/log.h"

namespace ku {

int ReadBackOutcome::slotsRead() const {
  int n = 0;
  for (const auto& v : values) n += v ? 1 : 0;
  return n;
}

UnitLink::UnitLink(std::unique_ptr<SerialPort> port, Sleeper& sleeper)
    : port_(std::move(port)), sleeper_(sleeper) {}

LinkOutcome UnitLink::openPort(const std::string& commsIniPath, LinkState& state,
                               std::optional<std::int16_t> portNumberOverride) {
  passSent_ = 0;
  forgetLine();
  ErrorTrail trail;
  if (portNumberOverride) {
    state.portNumber = static_cast<double>(*portNumberOverride);
  } else {
    PortNumberValue pairName;  // the first item of each pair: only the port number counts
    if (!trail.step([&] { readCommsIni(commsIniPath, state.portNumber, pairName); }))
      qCDebug(lcLink, "comms.ini %s: error %d: %s", commsIniPath.c_str(), trail.last(),
              trail.lastText().c_str());
  }
  std::optional<std::int16_t> number;
  // A port number that does not read as one (binary bytes, NULs, an item of
  // megabytes, any text) names no port: the invalid-port outcome, as port 0.
  if (!trail.step([&] { number = portNumberToInt16(state.portNumber); }))
    trail.record(kInvalidPortNumber, "Invalid port number: " + trail.lastText());
  // Only the port that comms.ini named is ever opened: a number that is no
  // number, or no port, opens nothing, so neither "Update" nor the close byte can
  // reach a device that nobody chose.
  LinkOutcome out;
  if (number) {
    trail.step([&] {
      if (*number < 1)
        throw KuError(kInvalidPortNumber, "Invalid port number " + std::to_string(*number));
      const std::int16_t n = *number;
      if (!port_->isOpen()) openNoting(out, [this, n] { port_->open(n, kUnitLine); });
    });
  }
  out.code = trail.last();
  out.text = trail.lastText();
  noteOpen(number ? "port " + std::to_string(*number) : std::string("the port"), out);
  return out;
}

LinkOutcome UnitLink::openDevice(const std::string& path) {
  passSent_ = 0;
  forgetLine();
  ErrorTrail trail;
  LinkOutcome out;
  trail.step([&] {
    if (!port_->isOpen()) openNoting(out, [this, path] { port_->openDevice(path, kUnitLine); });
  });
  out.code = trail.last();
  out.text = trail.lastText();
  noteOpen(path, out);
  return out;
}

void UnitLink::noteOpen(const std::string& what, const LinkOutcome& out) {
  const std::string device = port_->devicePath();
  const std::string on = device.empty() || device == what ? "" : " on " + device;
  if (out.code == kNoError) {
    qCDebug(lcLink, "%s open%s: %s", what.c_str(), on.c_str(), lineSettingsText(kUnitLine).c_str());
    return;
  }
  qCDebug(lcLink, "%s not opened%s: error %d: %s", what.c_str(), on.c_str(), out.code,
          out.text.c_str());
  if (trace_)
    trace_->failure(sleeper_.now(), "open " + what + on,
                    "error " + std::to_string(out.code) + ": " + out.text);
}

void UnitLink::openNoting(LinkOutcome& outcome, const std::function<void()>& open) {
  try {
    open();
    if (trace_) trace_->opened(sleeper_.now(), port_->devicePath(), port_->settingsInUse());
    reopen_ = open;
    lineLost_ = false;
  } catch (const PortAccessDenied& e) {
    outcome.accessDeniedDevice = e.device();
    throw;
  } catch (const PortHeld& e) {
    outcome.heldDevice = e.device();
    throw;
  }
}

void UnitLink::sendCloseByteAndClose() {
  // A failed close byte (the port never opened, or the unit went away) is
  // dropped and the port still closed.
  try {
    write(kCloseByte, false);
  } catch (...) {
  }
  try {
    if (port_->isOpen()) {
      port_->close();
      const std::string device = port_->devicePath();
      qCDebug(lcLink, "port closed%s%s", device.empty() ? "" : ": ", device.c_str());
      if (trace_) trace_->closed(sleeper_.now(), device, {});
    }
  } catch (const std::exception& e) {
    qCDebug(lcLink, "close failed: %s", e.what());
    if (trace_) trace_->failure(sleeper_.now(), "close", e.what());
  } catch (...) {
  }
}

void UnitLink::forgetLine() {
  // A port set up anew: what the line was before is no longer ours to reopen.
  if (port_->isOpen()) return;
  reopen_ = nullptr;
  lineLost_ = false;
}

void UnitLink::closeLostLine() {
  if (!lineLost_) return;
  try {
    if (port_->isOpen()) {
      port_->close();
      if (trace_) trace_->closed(sleeper_.now(), port_->devicePath(), "line lost, no close byte");
    }
  } catch (...) {
    // A port that fails even to close is as closed as it can be.
  }
}

LinkOutcome UnitLink::reopenLostLine() {
  LinkOutcome out;
  if (!lineLost_ || !reopen_ || port_->isOpen()) return out;
  ErrorTrail trail;
  const std::function<void()> again = reopen_;
  trail.step([&] { openNoting(out, again); });
  out.code = trail.last();
  out.text = trail.lastText();
  if (out.code != kNoError && trace_)
    trace_->failure(sleeper_.now(), "open again",
                    "error " + std::to_string(out.code) + ": " + out.text);
  return out;
}

template <typename F>
auto UnitLink::onLine(F&& op) -> decltype(op()) {
  try {
    return op();
  } catch (const KuError& e) {
    // Any failure on an open port means the line is gone until the device is
    // opened again; so does a port we opened that closed under us. A port that
    // was never opened has lost nothing.
    if (e.code() != kPortNotOpen || (reopen_ && !port_->isOpen())) lineLost_ = true;
    throw;
  }
}

void UnitLink::write(char byte, bool stoppable) {
  waitOutRecordSecond(stoppable);
  if (stoppable) throwIfStopDue();
  send(std::string(1, byte));
}

void UnitLink::send(const std::string& bytes) {
  try {
    onLine([&] { port_->write(bytes); });
  } catch (const std::exception& e) {
    qCDebug(lcLink, "write of %zu byte(s) failed: %s: %s", bytes.size(),
            hexBytes(bytes).constData(), e.what());
    if (trace_) trace_->failure(sleeper_.now(), "write " + tracedBytes(bytes), e.what());
    throw;
  }
  qCDebug(lcLink, "wrote %zu byte(s): %s", bytes.size(), hexBytes(bytes).constData());
  if (trace_) trace_->wrote(sleeper_.now(), bytes);
}

std::string UnitLink::receive() {
  std::string chunk;
  try {
    chunk = onLine([this] { return port_->readAll(); });
  } catch (const std::exception& e) {
    qCDebug(lcLink, "read failed: %s", e.what());
    if (trace_) trace_->failure(sleeper_.now(), "read", e.what());
    throw;
  }
  if (!chunk.empty()) {
    qCDebug(lcLink, "read %zu byte(s): %s", chunk.size(), hexBytes(chunk).constData());
    if (trace_) trace_->read(sleeper_.now(), chunk);
  }
  return chunk;
}

void UnitLink::waitOutRecordSecond(bool stoppable) {
  if (!recordRequestedAt_) return;
  const MonotonicClock::time_point until =
      *recordRequestedAt_ + std::chrono::milliseconds(kRecordSecondMs);
  // The sleeper never ends a wait early, so one wait is enough. A stop keeps
  // the mark: the close byte after it still waits the second out.
  const int left = millisecondsUntil(sleeper_, until);
  if (left > 0) {
    qCDebug(lcLink, "holding the next byte %d ms: the unit's second after \"x\" is not over", left);
    if (trace_) trace_->hold(sleeper_.now(), left);
    if (stoppable)
      waitUnlessStopped(left);
    else
      sleeper_.sleepMs(left);
  }
  recordRequestedAt_.reset();
}

bool UnitLink::stopDue() const {
  return stop_ && stop_->pending() && !passRunning_;
}

void UnitLink::throwIfStopDue() const {
  if (!stopDue()) return;
  qCDebug(lcLink, "stopped by signal %d (%d of %d upload bytes out)", stop_->signal(), passSent_,
          passTotal_);
  if (trace_) trace_->stopped(sleeper_.now(), stop_->signal());
  throw StopRequested(stop_->signal(), passSent_, passTotal_);
}

void UnitLink::pause(int ms) {
  if (ms <= 0) return;
  qCDebug(lcLink, "pause %d ms", ms);
  if (trace_) trace_->pause(sleeper_.now(), ms);
  waitUnlessStopped(ms);
}

void UnitLink::waitUnlessStopped(int ms) {
  if (!sleeper_.sleepMsUnless(ms, [this] { return stopDue(); })) throwIfStopDue();
}

void UnitLink::writeRecordRequest() {
  // The unit's second starts once "x" has left, or might have: a failed write
  // may still have put it on the line.
  try {
    write(kRecordRequestByte);
  } catch (...) {
    recordRequestedAt_ = sleeper_.now();
    throw;
  }
  recordRequestedAt_ = sleeper_.now();
}

std::string UnitLink::probe(char byte) {
  if (byte == kRecordRequestByte)
    writeRecordRequest();
  else
    write(byte);
  pause(kRecordSecondMs);
  return receive();
}

std::string UnitLink::readRecord(MonotonicClock::time_point deadline) {
  std::string reply;
  // One line for the whole wait, not one per look at the port.
  const int wait = millisecondsUntil(sleeper_, deadline);
  qCDebug(lcLink, "awaiting the record, at most %d ms", wait);
  if (trace_) trace_->awaitingRecord(sleeper_.now(), wait);
  for (;;) {
    const int left = millisecondsUntil(sleeper_, deadline);
    const int step = std::min(kRecordPollMs, left);
    if (step > 0) waitUnlessStopped(step);
    reply += receive();  // a failed read throws: what came before it is dropped too
    // The last look is the one at the end of the second; what came sooner and
    // what follows the 38th character decode the same (only the first 38 count).
    if (reply.size() >= static_cast<std::size_t>(kRecordLength) || step == left) break;
  }
  return reply;
}

ReadBackOutcome UnitLink::readBack() {
  auto phase = [this](ReadBackPhase p) {
    if (observer_.readBackPhase) observer_.readBackPhase(p);
  };
  ErrorTrail trail;
  std::string reply;
  trail.step([&] { write(kFirstRequestByte); });
  phase(ReadBackPhase::FirstRequest);
  trail.step([&] { pause(hundredthsToMs(kRequestPauseHundredths)); });
  trail.step([&] { write(kSecondRequestByte); });
  phase(ReadBackPhase::SecondRequest);
  trail.step([&] { pause(hundredthsToMs(kRequestPauseHundredths)); });
  // Whatever the unit said to " " and "q" is thrown away.
  trail.step([&] { reply = receive(); });
  reply.clear();
  trail.step([&] { writeRecordRequest(); });
  phase(ReadBackPhase::RecordRequest);
  const MonotonicClock::time_point recordDue =
      recordRequestedAt_.value_or(sleeper_.now()) + std::chrono::milliseconds(kRecordSecondMs);
  replyKept_.clear();
  replyLength_ = 0;
  replySettled_ = false;
  trail.step([&] { reply = readRecord(recordDue); });
  keepReply(reply);
  phase(ReadBackPhase::Done);

  ReadBackOutcome out;
  out.values = decodeRecord(reply, trail);
  out.code = trail.last();
  out.text = trail.lastText();
  qCDebug(lcLink, "read-back: %zu-byte reply, %d of %d slots, last error %d%s%s", reply.size(),
          out.slotsRead(), kRowSlots, out.code, out.code ? ": " : "", out.text.c_str());
  if (trace_) {
    trace_->record(sleeper_.now(), reply, out.values);
    if (out.code != kNoError)
      trace_->failure(sleeper_.now(), "read-back",
                      "error " + std::to_string(out.code) + ": " + out.text);
  }
  return out;
}

void UnitLink::keepReply(const std::string& more) {
  replyLength_ += more.size();
  if (replyKept_.size() < kKeptReplyBytes)
    replyKept_.append(more, 0, kKeptReplyBytes - replyKept_.size());
}

ReplyCheck UnitLink::settleRecord() {
  if (!replySettled_) {
    replySettled_ = true;
    try {
      waitOutRecordSecond(true);
      if (port_->isOpen()) keepReply(receive());
    } catch (const StopRequested&) {
      replySettled_ = false;  // a stop ends the wait, not the judgement
      throw;
    } catch (...) {
      // The port went away: what came before is all there is.
    }
  }
  return checkReply(replyKept_, replyLength_);
}

UploadPassOutcome UnitLink::upload(const UploadValues& values) {
  const UploadFrame frame = buildUploadFrame(values);
  passTotal_ = static_cast<int>(frameBytes(frame).size());
  passSent_ = 0;
  ErrorTrail trail;
  UploadPassOutcome out;
  // However the pass ends, a stop is no longer held back by it.
  struct PassEnd {
    bool& running;
    ~PassEnd() { running = false; }
  } passEnd{passRunning_};
  int slot = -1;
  for (const FrameStep& step : frame) {
    if (step.startsSlot) ++slot;
    // A second SIGINT ends the pass here, between two slots.
    if (step.startsSlot && passRunning_ && stop_->passMustEnd()) break;
    if (step.kind == FrameStep::Kind::Pause) {
      trail.step([&] { pause(hundredthsToMs(step.hundredths)); });
      continue;
    }
    trail.step([&] {
      for (char b : step.bytes) {
        try {
          write(b);
        } catch (const KuError&) {
          out.broke = PassBreak{passSent_, passTotal_, slot};
          throw;
        }
        ++passSent_;
        // From the first byte on, the unit is being written: the pass goes on.
        passRunning_ = stop_ != nullptr;
        if (observer_.uploadProgress) observer_.uploadProgress(passSent_, passTotal_);
      }
      if (step.refusedCode != kNoError) throw KuError(step.refusedCode, step.refusal);
    });
    if (out.broke) break;
  }
  passRunning_ = false;
  qCDebug(lcLink, "upload pass: %d of %d bytes out, last error %d%s%s", passSent_, passTotal_,
          trail.last(), trail.last() ? ": " : "", trail.lastText().c_str());
  if (trace_ && trail.last() != kNoError)
    trace_->failure(sleeper_.now(), "upload",
                    std::to_string(passSent_) + " of " + std::to_string(passTotal_) +
                        " bytes out, error " + std::to_string(trail.last()) + ": " +
                        trail.lastText());
  // A stop asked for during the pass: the read-back after it is not run.
  throwIfStopDue();
  out.code = trail.last();
  out.text = trail.lastText();
  return out;
}

}  // namespace ku
