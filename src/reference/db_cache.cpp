#include "reference/db_cache.h"

#include <sys/stat.h>

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "model/errors.h"
#include "model/log.h"

namespace ku {

bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
         a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
}

bool operator!=(const FileIdentity& a, const FileIdentity& b) {
  return !(a == b);
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.modified = st.st_mtim;
  id.changed = st.st_ctim;
  return id;
}

namespace {

std::chrono::nanoseconds sinceEpoch(const timespec& t) {
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

std::chrono::nanoseconds wallClockNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return sinceEpoch(now);
}

// Whether a version last touched at the file's times, read at `readAt`, can
// no longer change without its times showing it.
bool settled(const FileIdentity& id, std::chrono::nanoseconds readAt,
             std::chrono::nanoseconds settleTime) {
  const auto touched = std::max(sinceEpoch(id.modified), sinceEpoch(id.changed));
  return touched + settleTime <= readAt;
}

// The rows of one query, every column's value in the engine's order.
struct Result {
  std::vector<std::string> columns;
  std::vector<std::vector<DbValue>> rows;
  std::size_t bytes = 0;
};

std::size_t valueBytes(const DbValue& v) {
  std::size_t n = sizeof(DbValue);
  if (const auto* s = std::get_if<std::string>(&v)) n += s->capacity();
  return n;
}

// Thrown inside recording only: the result is too large to keep.
struct TooLarge {};

}  // namespace

// One version of one file, opened with one connect string, and what was read from it.
struct Version {
  std::string path;
  std::string connect;
  FileIdentity identity;
  std::unordered_map<std::string, std::shared_ptr<const Result>> results;
  std::size_t bytes = 0;
};

struct CachingOpener::State {
  std::unique_ptr<ReferenceDatabaseOpener> engine;
  DbCacheLimits limits;
  std::shared_ptr<Version> current;  // the latest version whose answers are kept
  DbCacheCounters counters;

  std::unique_ptr<ReferenceDatabase> engineOpen(const std::string& path,
                                                const std::string& connect) {
    ++counters.engineOpens;
    qCDebug(lcReference, "the engine opens %s", path.c_str());
    return engine->open(path, connect);
  }

  void keep(const std::shared_ptr<Version>& version, const std::string& sql,
            const std::shared_ptr<const Result>& result) {
    if (!version || version != current) return;
    if (version->results.size() >= limits.maxQueries) return;
    const std::size_t bytes = result->bytes + sql.size();
    if (version->bytes + bytes > limits.maxBytes) return;
    // Only if the file is still the version the rows were read from.
    const auto now = fileIdentity(version->path);
    if (!now || *now != version->identity) {
      current.reset();
      return;
    }
    if (version->results.emplace(sql, result).second) version->bytes += bytes;
  }
};

namespace {

// One open database as the lookups see it: answers from memory where it can,
// from the engine's database (opened when first needed) otherwise.
class CachedDatabase : public ReferenceDatabase {
 public:
  CachedDatabase(std::shared_ptr<CachingOpener::State> state, std::shared_ptr<Version> version,
                 std::string path, std::string connect, std::unique_ptr<ReferenceDatabase> engineDb)
      : state_(std::move(state)),
        version_(std::move(version)),
        path_(std::move(path)),
        connect_(std::move(connect)),
        engine_(std::move(engineDb)) {}

  void query(const std::string& sql) override {
    ++state_->counters.queries;
    result_.reset();
    passThrough_ = false;
    row_ = 0;
    sql_ = sql;
    queried_ = true;
    if (!closed_ && version_) {
      const auto it = version_->results.find(sql);
      if (it != version_->results.end()) {
        result_ = it->second;
        ++state_->counters.queriesFromMemory;
        qCDebug(lcReference, "%s: answered from memory", sql.c_str());
        return;
      }
    }
    ReferenceDatabase& db = engine();
    passThrough_ = true;
    db.query(sql);
    if (closed_) return;
    auto recorded = record(db);
    if (!recorded) return;
    result_ = recorded;
    passThrough_ = false;
    state_->keep(version_, sql, recorded);
  }

  bool atEnd() const override {
    if (passThrough_) return engine_->atEnd();
    return !result_ || row_ >= result_->rows.size();
  }

  DbValue field(const std::string& column) const override {
    if (!passThrough_ && result_ && row_ < result_->rows.size()) {
      const auto& columns = result_->columns;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i] == column) return result_->rows[row_][i];
      }
    }
    replay();
    return engine_->field(column);
  }

  void moveNext() override {
    if (!passThrough_ && result_ && row_ < result_->rows.size()) {
      ++row_;
      return;
    }
    replay();
    engine_->moveNext();
  }

  void close() override {
    closed_ = true;
    result_.reset();
    if (engine_) {
      passThrough_ = true;
      engine_->close();
    }
  }

  std::vector<std::string> columns() const override {
    if (!passThrough_ && result_) return result_->columns;
    if (passThrough_) return engine_->columns();
    return {};
  }

 private:
  // The engine's database, opened on first need (and closed again at once when
  // this one was closed before, so that it gives a closed database's errors).
  ReferenceDatabase& engine() const {
    if (!engine_) {
      engine_ = state_->engineOpen(path_, connect_);
      if (closed_) engine_->close();
    }
    return *engine_;
  }

  // Puts the engine's cursor where this one is, for a step memory cannot answer.
  void replay() const {
    if (passThrough_) return;
    ReferenceDatabase& db = engine();
    if (!closed_ && queried_) {
      db.query(sql_);
      for (std::size_t i = 0; i < row_; ++i) db.moveNext();
    }
    passThrough_ = true;
    result_.reset();
  }

  // Reads the whole result. Nothing when it cannot be kept; the engine's cursor
  // is then back at the first row, as the query left it.
  std::shared_ptr<const Result> record(ReferenceDatabase& db) {
    auto result = std::make_shared<Result>();
    result->columns = db.columns();
    if (result->columns.empty() && !db.atEnd()) return nullptr;
    for (const auto& c : result->columns) result->bytes += c.capacity() + sizeof c;
    try {
      while (!db.atEnd()) {
        if (result->rows.size() >= state_->limits.maxRowsPerQuery) throw TooLarge{};
        std::vector<DbValue> row;
        row.reserve(result->columns.size());
        for (const auto& c : result->columns) {
          row.push_back(db.field(c));
          result->bytes += valueBytes(row.back());
        }
        result->rows.push_back(std::move(row));
        db.moveNext();
      }
    } catch (const KuError&) {
      db.query(sql_);  // the engine goes on from the start, step by step
      return nullptr;
    } catch (const TooLarge&) {
      db.query(sql_);
      return nullptr;
    }
    return result;
  }

  std::shared_ptr<CachingOpener::State> state_;
  std::shared_ptr<Version> version_;
  std::string path_;
  std::string connect_;
  mutable std::unique_ptr<ReferenceDatabase> engine_;
  mutable std::shared_ptr<const Result> result_;
  mutable bool passThrough_ = false;  // the engine's cursor is the current result
  std::size_t row_ = 0;
  std::string sql_;
  bool queried_ = false;
  bool closed_ = false;
};

}  // namespace

CachingOpener::CachingOpener(std::unique_ptr<ReferenceDatabaseOpener> engine, DbCacheLimits limits)
    : state_(std::make_shared<State>()) {
  state_->engine = std::move(engine);
  state_->limits = limits;
}

CachingOpener::~CachingOpener() = default;

std::unique_ptr<ReferenceDatabase> CachingOpener::open(const std::string& path,
                                                       const std::string& connect) {
  State& s = *state_;
  ++s.counters.opens;
  const std::optional<FileIdentity> identity = fileIdentity(path);
  if (!identity) return s.engineOpen(path, connect);  // the engine says what is wrong

  const auto& current = s.current;
  if (current && current->identity == *identity && current->path == path &&
      current->connect == connect) {
    return std::make_unique<CachedDatabase>(state_, current, path, connect, nullptr);
  }

  // A version not seen yet (or not with this connect string): the engine opens it
  // and checks it; a failure leaves the kept answers as they were.
  const auto readAt = wallClockNow();
  auto db = s.engineOpen(path, connect);
  if (settled(*identity, readAt, s.limits.settleTime)) {
    auto version = std::make_shared<Version>();
    version->path = path;
    version->connect = connect;
    version->identity = *identity;
    s.current = std::move(version);
  } else {
    s.current.reset();
  }
  return std::make_unique<CachedDatabase>(state_, s.current, path, connect, std::move(db));
}

DbCacheCounters CachingOpener::counters() const {
  return state_->counters;
}

std::size_t CachingOpener::cachedQueries() const {
  return state_->current ? state_->current->results.size() : 0;
}

void CachingOpener::clear() {
  state_->current.reset();
}

std::unique_ptr<ReferenceDatabaseOpener> makeCachingMdbOpener() {
  return std::make_unique<CachingOpener>(makeMdbOpener());
}

}  // namespace ku
