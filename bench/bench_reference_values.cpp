// Cost of one reference-value refresh: both lookups open, query and close the
// database each time. Against the shipped database and one with 65,536 rows a
// table, through the engine alone and through the cache (which answers a query
// it has seen from memory while the file is unchanged). Paths can be given as
// KU_BENCH_DB / KU_BENCH_LARGE_DB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "model/errors.h"
#include "model/slot_table.h"
#include "reference/db_cache.h"
#include "reference/lookups.h"
#include "reference/reference_values.h"

namespace {

using namespace ku;

std::string pathFrom(const char* variable, const char* fallback) {
  const char* v = std::getenv(variable);
  return v && *v ? v : fallback;
}

struct NullCells : ReferenceCells {
  void setReferenceValue(int, const std::string& t) override { benchmark::DoNotOptimize(t.data()); }
  void setReferenceUnit(int, const std::string& t) override { benchmark::DoNotOptimize(t.data()); }
  void setDescriptionValue(int, const std::string& t) override {
    benchmark::DoNotOptimize(t.data());
  }
};

void runRefresh(benchmark::State& state, const std::string& db, std::int16_t rfKey,
                std::int16_t cfgKey, bool cached = false) {
  SlotValueArray slots{};
  for (int s = 0; s < kValueSlots; ++s)
    slots[static_cast<std::size_t>(s)] = slotInfo(s).builtInDefault;
  slots[3] = rfKey;
  slots[6] = cfgKey;
  slots[30] = 210;
  slots[31] = 0;
  const std::string pulse = "1";
  const NumberLocale loc{"."};
  const ReferenceInputs in{slots, pulse, true, loc};
  auto opener = cached ? makeCachingMdbOpener() : makeMdbOpener();
  LookupValues values;
  ReferenceLookups lookups(*opener, db, values);
  NullCells cells;
  try {
    refreshReferenceValues(in, lookups, values, cells);
  } catch (const KuError& e) {
    state.SkipWithError((db + ": " + e.what()).c_str());
    return;
  }
  for (auto _ : state) {
    refreshReferenceValues(in, lookups, values, cells);
  }
}

void BM_RefvalShipped(benchmark::State& state) {
  runRefresh(state, pathFrom("KU_BENCH_DB", KU_BIN_DIR "/TKUUtil.mdb"), 2, 10);
}
BENCHMARK(BM_RefvalShipped)->Unit(benchmark::kMicrosecond);

void BM_RefvalLarge(benchmark::State& state) {
  // A key near the end of the table and one in the middle.
  runRefresh(state, pathFrom("KU_BENCH_LARGE_DB", KU_BENCH_LARGE_DB), 32000, 10);
}
BENCHMARK(BM_RefvalLarge)->Unit(benchmark::kMillisecond);

void BM_RefvalShippedCached(benchmark::State& state) {
  runRefresh(state, pathFrom("KU_BENCH_DB", KU_BIN_DIR "/TKUUtil.mdb"), 2, 10, true);
}
BENCHMARK(BM_RefvalShippedCached)->Unit(benchmark::kMicrosecond);

void BM_RefvalLargeCached(benchmark::State& state) {
  runRefresh(state, pathFrom("KU_BENCH_LARGE_DB", KU_BENCH_LARGE_DB), 32000, 10, true);
}
BENCHMARK(BM_RefvalLargeCached)->Unit(benchmark::kMicrosecond);

// The same query answered by mdbtools' own command-line tool, for comparison.
void BM_MdbSqlCommand(benchmark::State& state) {
  const std::string db = pathFrom("KU_BENCH_DB", KU_BIN_DIR "/TKUUtil.mdb");
  const std::string command =
      "printf 'SELECT * FROM RFcontrol WHERE DECVAL =  2\\ngo\\n' | mdb-sql -F -P '" + db +
      "' >/dev/null 2>&1";
  if (std::system("command -v mdb-sql >/dev/null 2>&1") != 0) {
    state.SkipWithError("mdb-sql not installed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::system(command.c_str()));
  }
}
BENCHMARK(BM_MdbSqlCommand)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
