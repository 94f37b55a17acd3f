// Another talker on the unit's line: NMEA 0183 sentences of a GPS or a sounder,
// noise before, instead of or after the record, noise from a random moment. The
// main window's core runs on a fake port and a virtual clock with a scripted
// unit; every byte it puts on the line is compared with what the unit held, and
// every backup with the unit's values.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/setup_file.h"
#include "app/unit_controller.h"
#include "expected.h"
#include "fakes.h"
#include "timeline.h"

namespace ku {
namespace {

using test::makeRecord;
using test::uploadOf;

// Sentences as a GPS and a sounder send them, checksums included.
const char* const kSentences[] = {
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n",
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n",
    "$SDDPT,23.4,0.5,*5A\r\n",
};

// What else is on the line, and when it starts talking (virtual ms).
enum class Talker { None, Nmea, Noise };

// How the unit answers "x".
enum class Answer { Record, RecordAndLineEnd, NoiseFirst, NoiseAfter, NoiseInstead, Silent };

struct Scenario {
  Answer answer = Answer::Record;
  Talker talker = Talker::None;
  long talkFromMs = 0;
  int noiseBytes = 0;  // for the answers with noise
};

// A unit that holds values, answers "x" as the scenario says, and a talker that
// puts 480 characters a second on the same line from its moment on.
class Line {
 public:
  Line(const Scenario& s, std::array<int, 32> held, std::mt19937& random)
      : s_(s), held_(held), random_(random) {}

  void attach(test::FakeSerialPort& port, test::FakeSleeper& sleeper) {
    // The unit answers within the first wait after "x": the talker's characters
    // of that wait come first.
    port.onByte = [this](unsigned char c) {
      if (c == 'x') pending_ += answer();
    };
    sleeper.onSleep = [this, &port, &sleeper](int) {
      talk(port, sleeper.elapsedMs);
      port.arriving += pending_;
      pending_.clear();
    };
  }

 private:
  std::string noise(int n) {
    std::string b;
    for (int i = 0; i < n; ++i) b += static_cast<char>(random_() & 0xFF);
    return b;
  }
  std::string answer() {
    const std::string record = makeRecord(held_);
    switch (s_.answer) {
      case Answer::Record:
        return record;
      case Answer::RecordAndLineEnd:
        return record + "\r\n";
      case Answer::NoiseFirst:
        return noise(s_.noiseBytes) + record;
      case Answer::NoiseAfter:
        return record + noise(s_.noiseBytes);
      case Answer::NoiseInstead:
        return noise(s_.noiseBytes);
      case Answer::Silent:
        break;
    }
    return {};
  }
  void talk(test::FakeSerialPort& port, long long nowMs) {
    if (s_.talker == Talker::None || nowMs < s_.talkFromMs) return;
    const long long due = (nowMs - s_.talkFromMs) * 480 / 1000;
    for (; talked_ < due; ++talked_) {
      if (s_.talker == Talker::Noise) {
        port.arriving += noise(1);
        continue;
      }
      if (sentence_.empty()) sentence_ = kSentences[next_++ % 3];
      port.arriving += sentence_.front();
      sentence_.erase(0, 1);
    }
  }

  Scenario s_;
  std::array<int, 32> held_;
  std::mt19937& random_;
  long long talked_ = 0;
  std::string sentence_;
  int next_ = 0;
  std::string pending_;
};

// The main window's core on the fakes, with its backups in a scratch folder.
struct Window {
  test::TempDir dir;
  test::FakeSleeper sleeper;
  test::RecordingNotifier notifier;
  test::EmptyDatabaseOpener opener;
  AppContext m;
  RecordingUnitView view;
  test::FakeSerialPort* port = new test::FakeSerialPort;
  std::unique_ptr<UnitController> core;

  Window() {
    dir.writeCommsIni("Port,1\n");
    initAppContext(m, dir.path());
    m.locale = NumberLocale{"."};
    m.backupsDir = dir.path() + "/backups";
    core = std::make_unique<UnitController>(m, view, notifier, sleeper,
                                            std::unique_ptr<SerialPort>(port), opener);
    view.attach(core.get());
  }
  ~Window() { view.attach(nullptr); }
  std::vector<std::string> backups() const {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(m.backupsDir, ec))
      files.push_back(e.path().string());
    return files;
  }
};

// Values a unit can hold, different in every run.
std::array<int, 32> randomUnitValues(std::mt19937& random) {
  std::array<int, 32> v{};
  for (int s = 0; s < 32; ++s) {
    const bool wide = test::isPairSlot(s) || s == 30;
    v[static_cast<std::size_t>(s)] = static_cast<int>(random() % (wide ? 32001 : 256));
  }
  v[8] = 7;  // the slot the runs set to 50
  return v;
}

test::UploadValues sentFor(const std::array<int, 32>& held) {
  test::UploadValues v{};
  for (int s = 0; s < 30; ++s) v[static_cast<std::size_t>(s)] = held[static_cast<std::size_t>(s)];
  v[8] = 50;
  return v;
}

const std::string kReadBack = test::kReadBackRequest;

// How one run ended.
enum class RunEnd { Refused, SentTheUnitsValues, SentSomethingElse };

// Runs "update 8=50" once. Any byte on the line other than read-back requests
// and the one right pass fails the test.
RunEnd updateOnce(const Scenario& s, std::mt19937& random, const std::string& trace) {
  SCOPED_TRACE(trace);
  const std::array<int, 32> held = randomUnitValues(random);
  Window w;
  Line line(s, held, random);
  line.attach(*w.port, w.sleeper);
  w.core->openLink();
  w.view.setEntryText(8, "50");
  const UploadOutcome outcome = w.core->uploadEntries();

  const std::string& written = w.port->written;
  const std::string pass = uploadOf(sentFor(held));
  const bool sent = outcome == UploadOutcome::Sent;
  bool right = false;
  if (sent) {
    const bool once = written == kReadBack + pass + kReadBack;
    const bool confirmed = written == kReadBack + kReadBack + pass + kReadBack;
    right = once || confirmed;
    EXPECT_TRUE(right) << "a pass that is not the unit's values went out";
    const std::vector<std::string> files = w.backups();
    EXPECT_EQ(files.size(), 1u);
    for (const std::string& f : files) {
      const UnitSetup b = readSetupFile(f);
      for (int slot = 0; slot < 32; ++slot) {
        const SlotValue& v = b.values[static_cast<std::size_t>(slot)];
        if (v) {
          EXPECT_EQ(*v, held[static_cast<std::size_t>(slot)]) << "backup slot " << slot;
        }
      }
    }
  } else {
    EXPECT_TRUE(written == kReadBack || written == kReadBack + kReadBack) << written.size();
    EXPECT_TRUE(w.backups().empty()) << "a refused upload wrote a backup";
    EXPECT_FALSE(w.notifier.messages.empty());
  }
  if (!sent) return RunEnd::Refused;
  return right ? RunEnd::SentTheUnitsValues : RunEnd::SentSomethingElse;
}

TEST(ForeignTalker, KnownCasesUploadOrRefuseAsTheyMust) {
  std::mt19937 random(7);
  struct Case {
    const char* name;
    Scenario s;
    bool sent;
  };
  const Case cases[] = {
      {"clean line", {Answer::Record, Talker::None, 0, 0}, true},
      {"the unit ends its record with CR LF", {Answer::RecordAndLineEnd, Talker::None, 0, 0}, true},
      {"noise after the record", {Answer::NoiseAfter, Talker::None, 0, 50}, true},
      {"noise before the record", {Answer::NoiseFirst, Talker::None, 0, 5}, false},
      {"100 characters of noise instead", {Answer::NoiseInstead, Talker::None, 0, 100}, false},
      {"37 characters of noise instead", {Answer::NoiseInstead, Talker::None, 0, 37}, false},
      {"a GPS alongside the unit", {Answer::Record, Talker::Nmea, 0, 0}, false},
      {"a GPS instead of the unit", {Answer::Silent, Talker::Nmea, 0, 0}, false},
      {"noise from the start", {Answer::Record, Talker::Noise, 0, 0}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(updateOnce(c.s, random, c.name),
              c.sent ? RunEnd::SentTheUnitsValues : RunEnd::Refused)
        << c.name;
}

TEST(ForeignTalker, MessagesSayWhyAndANewCleanReadBackLiftsTheRefusal) {
  std::mt19937 random(11);
  const std::array<int, 32> held = test::distinctValues();
  Scenario gps{Answer::Silent, Talker::Nmea, 0, 0};
  Window w;
  Line line(gps, held, random);
  line.attach(*w.port, w.sleeper);
  w.core->openLink();
  EXPECT_EQ(w.core->uploadEntries(), UploadOutcome::NotTheRecord);
  ASSERT_EQ(w.notifier.messages.size(), 1u);
  const std::string& text = w.notifier.messages[0];
  EXPECT_EQ(text.rfind("The unit's reply held ", 0), 0u) << text;
  EXPECT_NE(text.find(" characters where its record has 38: it looks like NMEA 0183 sentences"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.substr(text.size() - 17), "Nothing was sent.");
  EXPECT_FALSE(w.core->saveSetupFile(w.dir.path() + "/saved.json"));
  EXPECT_FALSE(std::filesystem::exists(w.dir.path() + "/saved.json"));
  const std::string& saved = w.notifier.messages.back();
  EXPECT_EQ(saved.substr(saved.size() - 18), "Nothing was saved.");
  EXPECT_EQ(w.port->written, kReadBack);
  EXPECT_TRUE(w.backups().empty());

  // The GPS is unplugged and the unit answers: one clean read-back lifts it.
  Window clean;
  Line unit(Scenario{}, held, random);
  unit.attach(*clean.port, clean.sleeper);
  clean.core->openLink();
  clean.view.setEntryText(8, "50");
  EXPECT_EQ(clean.core->uploadEntries(), UploadOutcome::Sent);
  EXPECT_EQ(clean.port->written, kReadBack + uploadOf(sentFor(held)) + kReadBack);
}

// The soak: many update runs, each with its own scenario, unit values and
// moment at which the talker starts; the seed is printed on failure.
TEST(ForeignTalker, ThousandUpdatesNeverUploadAValueTheUnitDidNotHold) {
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  constexpr int kRuns = 1000;
  int sent = 0, refused = 0, wrong = 0;
  for (int run = 0; run < kRuns && !::testing::Test::HasFailure(); ++run) {
    Scenario s;
    s.answer = static_cast<Answer>(random() % 6);
    s.talker = static_cast<Talker>(random() % 3);
    s.talkFromMs = static_cast<long>(random() % 9000);
    // A burst of exactly 38 characters in place of the record, then silence,
    // is a record to anything on the line (the record has no check sum): not
    // one of the cases here.
    do {
      s.noiseBytes = 1 + static_cast<int>(random() % 600);
    } while (s.answer == Answer::NoiseInstead && s.noiseBytes == 38);
    const RunEnd r = updateOnce(s, random, "run " + std::to_string(run));
    sent += r == RunEnd::SentTheUnitsValues;
    refused += r == RunEnd::Refused;
    wrong += r == RunEnd::SentSomethingElse;
  }
  std::cout << "seed " << seed << ": " << sent << " uploads of the unit's values, " << refused
            << " refused; uploads carrying a value the unit did not hold: " << wrong << "\n";
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(sent, kRuns / 10);
  EXPECT_GT(refused, kRuns / 10);
}

}  // namespace
}  // namespace ku
