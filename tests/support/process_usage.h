// What this test process holds: resident memory and open file descriptors, for
// the leak, soak and fault tests.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace ku::test {

// Under AddressSanitizer freed memory waits in its quarantine (256 MB by
// default), so resident memory climbs whatever the program keeps: there it is
// reported, not compared, and LeakSanitizer is the leak check.
#if defined(__SANITIZE_ADDRESS__)
#define KU_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KU_UNDER_ASAN 1
#endif
#endif
#ifdef KU_UNDER_ASAN
constexpr bool kUnderAsan = true;
#else
constexpr bool kUnderAsan = false;
#endif

// Resident memory of this process in kB (VmRSS), or -1.
inline long residentKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Entries of /proc/self/fd (the directory's own descriptor included), or -1.
inline int openDescriptors() {
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
  ::closedir(d);
  return n;
}

// Microseconds the calling thread has spent ready to run but waiting for a
// processor (the second figure of /proc/thread-self/schedstat), or -1 where the
// kernel does not keep it. The difference between two readings is time that
// the scheduler, not the thread, took.
inline long long runQueueWaitMicros() {
  std::ifstream f("/proc/thread-self/schedstat");
  long long running = 0, waiting = -1;
  if (!(f >> running >> waiting)) return -1;
  return waiting / 1000;
}

// Microseconds that the machine under this one (the host of a virtual machine)
// has taken from all of its processors so far ("steal" in /proc/stat), or -1
// where it is not known. A thread loses such time without waiting for a
// processor of its own system: it looks like time the thread itself took.
inline long long stolenMicros() {
  std::ifstream f("/proc/stat");
  std::string cpu;
  long long user, nice, system, idle, iowait, irq, softirq, steal = -1;
  if (!(f >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal) ||
      cpu != "cpu" || steal < 0)
    return -1;
  const long ticks = ::sysconf(_SC_CLK_TCK);
  return ticks > 0 ? steal * 1000000 / ticks : -1;
}

}  // namespace ku::test
