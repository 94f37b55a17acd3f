// UnitLink: the one connection to the unit. It owns the serial port and the
// pacing, opens the port named by comms.ini (or a device path), runs the
// read-back exchange and the upload pass of protocol.h on the line, sends the
// close byte, and returns each exchange's outcome with its last error code. It
// shows nothing: what the operator sees is UnitController's business.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/comms_ini.h"
#include "link/protocol.h"
#include "link/record_check.h"
#include "link/serial_port.h"
#include "link/sleeper.h"
#include "link/stop_request.h"
#include "link/wire_trace.h"
#include "model/slot_table.h"

namespace ku {

// What the port set-up keeps for the whole run.
struct LinkState {
  PortNumberValue portNumber;
  bool portNumberAccepted = false;  // not rejected at load (says nothing of the port being open)
};

// How an exchange ended: the last code recorded (0 when no step failed) and its reason.
struct LinkOutcome {
  int code = kNoError;
  std::string text;
  // The device the user has no rights to, when that is why the port did not open.
  std::string accessDeniedDevice;
  // The device another program holds, when that is why the port did not open.
  std::string heldDevice;
};

// Where an upload pass broke off: a write failed after `sent` of `total` bytes
// had gone out, and the byte it could not write belongs to `slot`.
struct PassBreak {
  int sent = 0;
  int total = 0;
  int slot = 0;
};

// An upload pass's outcome; `broke` is set when a write failed and the pass
// went no further.
struct UploadPassOutcome : LinkOutcome {
  std::optional<PassBreak> broke;
};

// A read-back's outcome, with the value of every slot the record gave.
struct ReadBackOutcome : LinkOutcome {
  DecodedRecord values{};  // slots 0..31
  int slotsRead() const;
};

// Where a read-back stands: the first, second and record request went out (each
// followed by its wait), or the reply has been read.
enum class ReadBackPhase { FirstRequest, SecondRequest, RecordRequest, Done };

// Optional progress reports during an exchange (the window's status bar).
struct ExchangeObserver {
  std::function<void(int sent, int total)> uploadProgress;  // after each byte written
  std::function<void(ReadBackPhase)> readBackPhase;
};

class UnitLink {
 public:
  UnitLink(std::unique_ptr<SerialPort> port, Sleeper& sleeper);

  SerialPort& port() { return *port_; }
  const SerialPort& port() const { return *port_; }
  void setObserver(ExchangeObserver observer) { observer_ = std::move(observer); }
  // The stop request the exchanges look at (none by default). Outside an upload
  // pass a pending stop ends the exchange at the next byte or wait with
  // StopRequested; a pass whose first byte is out goes on (to a slot boundary
  // after a second SIGINT), then StopRequested skips the read-back after it.
  // The close byte is never held back by a stop.
  void setStopRequest(const StopRequest* stop) { stop_ = stop; }
  // The wire trace every event of the link goes to (none by default: nothing is
  // traced, and no time is taken for it).
  void setTrace(WireTrace* trace) { trace_ = trace; }

  // The port set-up: reads comms.ini (a port-number override stands in for the
  // file, which is then not read), converts the port number and opens that port
  // with the unit's line settings unless the port is open already. Every step
  // runs whatever failed before it; the outcome holds the last code.
  LinkOutcome openPort(const std::string& commsIniPath, LinkState& state,
                       std::optional<std::int16_t> portNumberOverride = std::nullopt);
  // Opens a device by its path instead of a port number.
  LinkOutcome openDevice(const std::string& path);
  // Sends the close byte "!" and closes the port. Never throws, so the window
  // can always close: a byte that cannot go out is dropped.
  void sendCloseByteAndClose();

  // A write or read on the open port failed (the adapter was pulled, the unit's
  // end of the line went away) since the port was last opened.
  bool lineLost() const { return lineLost_; }
  // After a lost line: closes the port, with no close byte (it cannot reach the
  // unit), so that the next exchange can look for the device again.
  void closeLostLine();
  // After a lost line whose port was closed: opens the port again the way it
  // was opened last (the same port number through its comN link, or the same
  // device path), so that a replugged adapter or a restarted unit is found.
  // Does nothing, with no failure, when no line was lost or the port is open.
  LinkOutcome reopenLostLine();

  // " ", pause, "q", pause, throw away the answer, "x", then the record: read as
  // soon as its 38 characters are in, at the latest one second after "x". Decodes
  // it. Every step runs; the outcome holds the last code (5 when the reply was
  // short, 6 for a high byte of 128 or more, or the port's code).
  ReadBackOutcome readBack();
  // One upload pass of the given values with its pauses; the outcome holds the
  // last code (5 when the last failure was a value outside 0..255). A failed
  // write ends the pass there: no later byte goes out on a line that failed.
  UploadPassOutcome upload(const UploadValues& values);

  // A connection check's look at the unit: sends byte (paced as every byte is,
  // after the unit's second since the last "x"), waits the unit's second and
  // returns what came meanwhile. Traced as every exchange is; a failed write or
  // read throws and loses the line.
  std::string probe(char byte);
  // What is waiting on the line now, read (and traced) and returned.
  std::string takeWaiting() { return receive(); }

  // The last read-back's reply to "x" in full: waits out the rest of the unit's
  // second after "x" (no byte may go to it sooner anyway) and adds what else came,
  // so that a talker or noise that goes on past the 38th character is heard.
  // Later calls return the same judgement until the next read-back. A read that
  // fails leaves the reply as it was.
  ReplyCheck settleRecord();
  // The last read-back's reply as far as it was read, judged without waiting or
  // reading more: whole for a reply shorter than the record, which was looked
  // for until its second was over.
  ReplyCheck replyAsRead() const { return checkReply(replyKept_, replyLength_); }

  // The unit has its full second after "x" whether or not the record came
  // sooner: no byte goes to it before then. Every write waits for it first.
  static constexpr int kRecordSecondMs = kRequestPauseHundredths * 10;
  // While the record is awaited, the port is looked at this often.
  static constexpr int kRecordPollMs = 10;

 private:
  // Writes one byte once the second after the last "x" is over; a stoppable
  // write first gives way to a stop that is due.
  void write(char byte, bool stoppable = true);
  // The port's own write and read, each with its line in the link's log; a
  // failure other than a closed port loses the line (onLine).
  void send(const std::string& bytes);
  std::string receive();
  void waitOutRecordSecond(bool stoppable);
  // A pause that a due stop ends (StopRequested).
  void pause(int ms);
  // The wait of a pause or a hold, with no line in the log or the trace.
  void waitUnlessStopped(int ms);
  bool stopDue() const;
  void throwIfStopDue() const;
  // Writes "x" and notes when it went.
  void writeRecordRequest();
  // Everything the unit sends after "x", read as it comes until the record is
  // complete or its second is over. A failed read throws, and nothing is kept.
  std::string readRecord(MonotonicClock::time_point deadline);
  // Runs an open; when the user has no rights to the device, notes which it was.
  // An open that succeeds is remembered for reopenLostLine.
  void openNoting(LinkOutcome& outcome, const std::function<void()>& open);
  // How an open ended, for the link's log and the trace.
  void noteOpen(const std::string& what, const LinkOutcome& out);
  // Before a port set-up with the port closed: no line to reopen, none lost.
  void forgetLine();
  // Runs a write or read on the port, noting a failed one as a lost line.
  template <typename F>
  auto onLine(F&& op) -> decltype(op());

  std::unique_ptr<SerialPort> port_;
  Sleeper& sleeper_;
  // How the port was opened last, to open it again after a lost line.
  std::function<void()> reopen_;
  bool lineLost_ = false;
  ExchangeObserver observer_;
  const StopRequest* stop_ = nullptr;
  WireTrace* trace_ = nullptr;
  // An upload's first byte is out and its pass is not over: a stop waits for it.
  bool passRunning_ = false;
  // The bytes of the last upload pass that went out, of how many.
  int passSent_ = 0;
  int passTotal_ = 0;
  // When the last "x" was put on the line (also when its write failed: the byte
  // may have left all the same); empty once its second is over.
  std::optional<MonotonicClock::time_point> recordRequestedAt_;
  // The last reply to "x": its first characters and how many came in all.
  std::string replyKept_;
  std::size_t replyLength_ = 0;
  bool replySettled_ = true;
  void keepReply(const std::string& more);
};

}  // namespace ku
