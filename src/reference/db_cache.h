// A cache in front of the reference database. Every refresh runs two lookups and
// every lookup opens the file, runs one query and closes it again; opening and
// scanning is nearly all of a keystroke's cost. The cache keeps the rows of the
// queries it has seen for one version of the file and answers them from memory
// while the file is unchanged on disk: same device, inode, size, modification
// and status-change times (to the nanosecond). Anything else goes to the engine,
// so the answers (values, errors, their order) stay those of a fresh open:
//  - the file is looked at (stat) on every open; a missing or unreadable file, a
//    file that changed, or a connect string not yet accepted for this version
//    is opened by the engine, which raises its own error;
//  - a failed query is never kept: it fails again through the engine next time;
//  - what memory cannot answer (a column the rows do not have, a read past the
//    last row, use after close) is replayed on the engine at the same row;
//  - a result that cannot be read in full without an error is served by the
//    engine, step by step, as without the cache.
// Between lookups no file stays open. Not thread-safe: one user-interface thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "reference/reference_database.h"

namespace ku {

// What tells one version of a file from another.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};  // st_mtim
  timespec changed{};   // st_ctim: moves on every write and on every time-stamp change
};
bool operator==(const FileIdentity& a, const FileIdentity& b);
bool operator!=(const FileIdentity& a, const FileIdentity& b);

// The identity of the file at path (following links), or nothing when stat fails.
std::optional<FileIdentity> fileIdentity(const std::string& path);

struct DbCacheLimits {
  std::size_t maxQueries = 1024;     // distinct queries kept for one file version
  std::size_t maxRowsPerQuery = 64;  // a larger result is served by the engine
  std::size_t maxBytes = 4u << 20;   // rough size of everything kept
  // A file changed less than this long before it is read could change again
  // without its time stamps showing it (coarse file-system clocks; FAT keeps
  // two-second times). Its answers are kept only once it is older than this.
  std::chrono::nanoseconds settleTime = std::chrono::seconds(2);
};

struct DbCacheCounters {
  std::uint64_t opens = 0;              // open() calls
  std::uint64_t engineOpens = 0;        // databases the engine opened
  std::uint64_t queries = 0;            // query() calls
  std::uint64_t queriesFromMemory = 0;  // of those, answered without the engine
};

class CachingOpener : public ReferenceDatabaseOpener {
 public:
  explicit CachingOpener(std::unique_ptr<ReferenceDatabaseOpener> engine,
                         DbCacheLimits limits = {});
  ~CachingOpener() override;
  CachingOpener(const CachingOpener&) = delete;
  CachingOpener& operator=(const CachingOpener&) = delete;

  std::unique_ptr<ReferenceDatabase> open(const std::string& path,
                                          const std::string& connect) override;

  DbCacheCounters counters() const;
  std::size_t cachedQueries() const;  // queries kept for the current file version
  void clear();                       // forgets every kept answer

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// The mdbtools database behind the cache: what the program's lookups should use.
std::unique_ptr<ReferenceDatabaseOpener> makeCachingMdbOpener();

}  // namespace ku
