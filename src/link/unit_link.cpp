#include "link/unit_link.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "model/errors.h"

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
  ErrorTrail trail;
  if (portNumberOverride) {
    state.portNumber = static_cast<double>(*portNumberOverride);
  } else {
    trail.step([&] { readCommsIni(commsIniPath, state.portNumber, state.firstItem); });
  }
  std::optional<std::int16_t> number;
  // A port number that does not read as one (binary bytes, NULs, an item of
  // megabytes, any text) names no port: the invalid-port outcome, as port 0.
  if (!trail.step([&] { number = portNumberToInt16(state.portNumber); }))
    trail.record(kInvalidPortNumber, "Invalid port number: " + trail.lastText());
  // Only the port that comms.ini named is ever opened: a number that is no
  // number, or no port, opens nothing, so neither "Update" nor the close byte can
  // reach a device that nobody chose.
  std::string denied;
  if (number) {
    trail.step([&] {
      if (*number < 1)
        throw KuError(kInvalidPortNumber, "Invalid port number " + std::to_string(*number));
      if (!port_->isOpen()) openNoting(denied, [&] { port_->open(*number, kUnitLine); });
    });
  }
  return {trail.last(), trail.lastText(), denied};
}

LinkOutcome UnitLink::openDevice(const std::string& path) {
  ErrorTrail trail;
  std::string denied;
  trail.step([&] {
    if (!port_->isOpen()) openNoting(denied, [&] { port_->openDevice(path, kUnitLine); });
  });
  return {trail.last(), trail.lastText(), denied};
}

void UnitLink::openNoting(std::string& deniedDevice, const std::function<void()>& open) {
  try {
    open();
  } catch (const PortAccessDenied& e) {
    deniedDevice = e.device();
    throw;
  }
}

void UnitLink::sendCloseByteAndClose() {
  // A failed close byte (the port never opened, or the unit went away) is
  // dropped and the port still closed.
  try {
    write(kCloseByte);
  } catch (...) {
  }
  try {
    if (port_->isOpen()) port_->close();
  } catch (...) {
  }
}

void UnitLink::write(char byte) {
  waitOutRecordSecond();
  port_->write(std::string(1, byte));
}

void UnitLink::waitOutRecordSecond() {
  if (!recordRequestedAt_) return;
  const MonotonicClock::time_point until =
      *recordRequestedAt_ + std::chrono::milliseconds(kRecordSecondMs);
  recordRequestedAt_.reset();
  // The sleeper never ends a wait early, so one wait is enough.
  const int left = millisecondsUntil(sleeper_, until);
  if (left > 0) sleeper_.sleepMs(left);
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

std::string UnitLink::readRecord(MonotonicClock::time_point deadline) {
  std::string reply;
  for (;;) {
    const int left = millisecondsUntil(sleeper_, deadline);
    const int step = std::min(kRecordPollMs, left);
    if (step > 0) sleeper_.sleepMs(step);
    reply += port_->readAll();  // a failed read throws: what came before it is dropped too
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
  trail.step([&] { pauseHundredths(sleeper_, kRequestPauseHundredths); });
  trail.step([&] { write(kSecondRequestByte); });
  phase(ReadBackPhase::SecondRequest);
  trail.step([&] { pauseHundredths(sleeper_, kRequestPauseHundredths); });
  // Whatever the unit said to " " and "q" is thrown away.
  trail.step([&] { reply = port_->readAll(); });
  reply.clear();
  trail.step([&] { writeRecordRequest(); });
  phase(ReadBackPhase::RecordRequest);
  const MonotonicClock::time_point recordDue =
      recordRequestedAt_.value_or(sleeper_.now()) + std::chrono::milliseconds(kRecordSecondMs);
  trail.step([&] { reply = readRecord(recordDue); });
  phase(ReadBackPhase::Done);

  ReadBackOutcome out;
  out.values = decodeRecord(reply, trail);
  out.code = trail.last();
  out.text = trail.lastText();
  return out;
}

LinkOutcome UnitLink::upload(const UploadValues& values) {
  const UploadFrame frame = buildUploadFrame(values);
  const int total = static_cast<int>(frameBytes(frame).size());
  int sent = 0;
  ErrorTrail trail;
  for (const FrameStep& step : frame) {
    if (step.kind == FrameStep::Kind::Pause) {
      trail.step([&] { pauseHundredths(sleeper_, step.hundredths); });
      continue;
    }
    trail.step([&] {
      for (char b : step.bytes) {
        write(b);
        ++sent;
        if (observer_.uploadProgress) observer_.uploadProgress(sent, total);
      }
      if (step.refusedCode != kNoError) throw KuError(step.refusedCode, step.refusal);
    });
  }
  return {trail.last(), trail.lastText(), {}};
}

}  // namespace ku
