#include "reference/mdb_quiet_stderr.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdio>

namespace ku::mdb {

QuietStderr::QuietStderr() {
  std::fflush(stderr);
  sink_ = ::memfd_create("ku-mdb-stderr", MFD_CLOEXEC);
  if (sink_ < 0) sink_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (sink_ < 0) return;
  saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  if (saved_ < 0 || ::dup2(sink_, STDERR_FILENO) < 0) {
    if (saved_ >= 0) ::close(saved_);
    saved_ = -1;
  }
}

QuietStderr::~QuietStderr() {
  restore();
  if (sink_ >= 0) ::close(sink_);
}

std::string QuietStderr::captured() const {
  std::fflush(stderr);
  std::string text;
  if (sink_ < 0) return text;
  std::array<char, 4096> buf{};
  const ssize_t n = ::pread(sink_, buf.data(), buf.size(), 0);
  if (n > 0) text.assign(buf.data(), static_cast<std::size_t>(n));
  return text;
}

void QuietStderr::restore() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  ::dup2(saved_, STDERR_FILENO);
  ::close(saved_);
  saved_ = -1;
}

}  // namespace ku::mdb
