// What the fuzz targets share: a check that stays on in every build, and a
// scratch file per process for targets that read their input from a file.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ku::fuzz {

// A broken invariant is a finding: print it and abort, so that libFuzzer keeps
// the input and the replay test fails. Not compiled out under NDEBUG.
[[noreturn]] inline void fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

#define KU_FUZZ_CHECK(cond)                                   \
  do {                                                        \
    if (!(cond)) ::ku::fuzz::fail(__FILE__, __LINE__, #cond); \
  } while (0)

// A file in the temporary folder that belongs to this process; removed when the
// process ends normally.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix) {
    const char* dir = std::getenv("TMPDIR");
    path_ =
        std::string(dir && *dir ? dir : "/tmp") + "/ku-fuzz-" + std::to_string(::getpid()) + suffix;
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Replaces the file's content with the bytes.
  const std::string& write(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (!f) fail(__FILE__, __LINE__, "cannot write the scratch file");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) {
      fail(__FILE__, __LINE__, "cannot write the scratch file");
    }
    if (std::fclose(f) != 0) fail(__FILE__, __LINE__, "cannot write the scratch file");
    return path_;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace ku::fuzz
