#include "link/wire_trace.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "link/record_check.h"
#include "model/log.h"

namespace ku {

WireTrace::~WireTrace() {
  if (file_) std::fclose(file_);
}

bool WireTrace::writeTo(const std::string& path, std::string& why) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) {
    why = std::strerror(errno);
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = f;
  std::fputs("# time in microseconds since the port opened, event, details\n", file_);
  std::fflush(file_);
  return true;
}

void WireTrace::comment(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  keep("# " + text);
}

void WireTrace::keep(const std::string& line) {
  lines_.push_back(line);
  if (lines_.size() > kKeptLines) lines_.pop_front();
  if (file_) {
    std::fputs(line.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  }
}

void WireTrace::add(MonotonicClock::time_point at, const char* event, const std::string& details) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!origin_) origin_ = at;
  const long long micros =
      std::chrono::duration_cast<std::chrono::microseconds>(at - *origin_).count();
  char head[48];
  std::snprintf(head, sizeof head, "%9lld %s", micros, event);
  keep(details.empty() ? std::string(head) : std::string(head) + " " + details);
}

void WireTrace::opened(MonotonicClock::time_point at, const std::string& device,
                       const std::string& settings) {
  TracedPort p;
  p.device = device;
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(device, ec);
  if (!ec) p.resolved = resolved.string();
  p.settings = settings.empty() ? "not known" : settings;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    origin_ = at;
  }
  add(at, "open", device + " -> " + (p.resolved.empty() ? "?" : p.resolved));
  add(at, "line", p.settings);
  std::lock_guard<std::mutex> lock(mutex_);
  port_ = p;
}

void WireTrace::wrote(MonotonicClock::time_point at, const std::string& bytes) {
  add(at, "write", tracedBytes(bytes));
}

void WireTrace::read(MonotonicClock::time_point at, const std::string& bytes) {
  for (std::size_t from = 0; from < bytes.size(); from += kTraceBytesPerLine)
    add(at, "read", tracedBytes(bytes.substr(from, kTraceBytesPerLine)));
}

void WireTrace::pause(MonotonicClock::time_point at, int ms) {
  add(at, "pause", std::to_string(ms) + " ms");
}

void WireTrace::hold(MonotonicClock::time_point at, int ms) {
  add(at, "hold", std::to_string(ms) + " ms");
}

void WireTrace::awaitingRecord(MonotonicClock::time_point at, int ms) {
  add(at, "await", "record, at most " + std::to_string(ms) + " ms");
}

void WireTrace::record(MonotonicClock::time_point at, const std::string& reply,
                       const DecodedRecord& values) {
  int read = 0;
  std::string slots;
  for (std::size_t s = 0; s < values.size(); ++s) {
    if (!values[s]) continue;
    ++read;
    slots += " " + std::to_string(s) + "=" + std::to_string(*values[s]);
  }
  add(at, "record",
      std::to_string(reply.size()) + " characters, " + std::to_string(read) + " of " +
          std::to_string(values.size()) + " slots" + (slots.empty() ? "" : ":" + slots));
  std::lock_guard<std::mutex> lock(mutex_);
  lastReply_ = reply;
}

void WireTrace::failure(MonotonicClock::time_point at, const std::string& what,
                        const std::string& why) {
  add(at, "fail", what + ": " + why);
}

void WireTrace::stopped(MonotonicClock::time_point at, int signal) {
  add(at, "stop", "signal " + std::to_string(signal));
}

void WireTrace::closed(MonotonicClock::time_point at, const std::string& device,
                       const std::string& how) {
  add(at, "close", how.empty() ? device : device + " (" + how + ")");
}

std::vector<std::string> WireTrace::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

std::optional<TracedPort> WireTrace::port() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return port_;
}

std::optional<std::string> WireTrace::lastReply() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastReply_;
}

std::string tracedBytes(const std::string& bytes) {
  std::string s = std::to_string(bytes.size());
  if (!bytes.empty()) s += " " + hexBytes(bytes).toStdString();
  // A quote inside the text would end it early for a reader.
  std::string text;
  for (char c : printableBytes(bytes)) text += c == '"' ? std::string("\\x22") : std::string(1, c);
  return s + " \"" + text + "\"";
}

bool parseTraceLine(const std::string& line, TraceLine& out) {
  std::istringstream in(line);
  if (line.empty() || line[0] == '#' || !(in >> out.micros >> out.event)) return false;
  std::getline(in >> std::ws, out.details);
  out.bytes.clear();
  if (out.event != "write" && out.event != "read") return true;
  std::istringstream d(out.details);
  std::size_t count = 0;
  if (!(d >> count)) return false;
  for (std::size_t i = 0; i < count; ++i) {
    std::string h;
    char* end = nullptr;
    if (!(d >> h) || h.size() != 2) return false;
    const long v = std::strtol(h.c_str(), &end, 16);
    if (end != h.c_str() + 2) return false;
    out.bytes += static_cast<char>(v);
  }
  return true;
}

}  // namespace ku
