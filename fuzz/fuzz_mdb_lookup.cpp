// The bytes as a damaged reference database: both lookups may fail only with the
// system's own error; they never crash, hang, leak a descriptor or leave the
// standard error stream redirected.
//
// A file that is not a whole number of pages is refused before the engine reads
// it, so inputs are padded with zeros to whole 4096-byte pages: the fuzzer's
// time goes to the pages themselves.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "model/errors.h"
#include "reference/lookups.h"
#include "reference/reference_database.h"

#if defined(__SANITIZE_ADDRESS__)
#define KU_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KU_FUZZ_ASAN 1
#endif
#endif
#ifdef KU_FUZZ_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// While mdbtools runs, standard error goes to a scratch file; a sanitizer's
// report of a fault inside it must still be seen, so it goes to a copy of
// standard error taken before any lookup.
void keepReportsVisible() {
#ifdef KU_FUZZ_ASAN
  static const bool done = [] {
    const int fd = ::dup(STDERR_FILENO);
    if (fd >= 0) __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    return true;
  }();
  (void)done;
#endif
}

int openDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

struct StderrIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const StderrIdentity& o) const { return dev == o.dev && ino == o.ino; }
};

StderrIdentity stderrIdentity() {
  struct stat st {};
  if (::fstat(STDERR_FILENO, &st) != 0) return {};
  return {st.st_dev, st.st_ino};
}

void lookUp(ku::ReferenceLookups& lookups, bool rf, std::int16_t key) {
  try {
    if (rf) {
      lookups.lookUpRfControl(key);
    } else {
      lookups.lookUpConfig(key);
    }
  } catch (const ku::KuError& e) {
    KU_FUZZ_CHECK(e.code() != ku::kNoError);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  keepReportsVisible();
  static ku::fuzz::ScratchFile file("-TKUUtil.mdb");
  static const std::unique_ptr<ku::ReferenceDatabaseOpener> opener = ku::makeMdbOpener();
  constexpr std::size_t kPage = 4096;
  std::vector<std::uint8_t> bytes(data, data + size);
  if (bytes.size() % kPage != 0) bytes.resize((bytes.size() / kPage + 1) * kPage, 0);
  const std::string& path = file.write(bytes.data(), bytes.size());

  const int descriptors = openDescriptors();
  const StderrIdentity err = stderrIdentity();

  ku::LookupValues values;
  ku::ReferenceLookups lookups(*opener, path, values);
  lookUp(lookups, true, 2);
  lookUp(lookups, false, 10);
  lookUp(lookups, true, 0);

  KU_FUZZ_CHECK(openDescriptors() == descriptors);
  KU_FUZZ_CHECK(stderrIdentity() == err);
  return 0;
}
