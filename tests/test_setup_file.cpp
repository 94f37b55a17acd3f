// Set-up files: the text written, what a reader accepts and every refusal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>
#include <utility>

#include "app/setup_file.h"

namespace ku {
namespace {

// The unit's built-in defaults on channel 3 with Tx Pulse Integral 1234 and
// Tolvek String 7, as a reader must find them.
UnitSetup exampleSetup() {
  UnitSetup s;
  s.saved = "2026-03-01T09:15:02.481Z";
  s.program = "kuctl 1.2";
  s.device = "/dev/ttyUSB0";
  const int values[32] = {2,  0,  0, 2,  799, 614, 10,  14,  205, 18,  19,  14,  63,  24, 95,   59,
                          48, 62, 0, 36, 64,  0,   100, 100, 0,   100, 100, 267, 267, 0,  1234, 7};
  for (int i = 0; i < 32; ++i) s.values[i] = static_cast<std::int16_t>(values[i]);
  return s;
}

const char* const kExampleText = R"json({
  "format": "ku-setup",
  "version": 1,
  "saved": "2026-03-01T09:15:02.481Z",
  "program": "kuctl 1.2",
  "device": "/dev/ttyUSB0",
  "slots": [
    {"slot": 0, "name": "Channel No.(1-4)", "value": 2},
    {"slot": 1, "name": "Frequency Flag", "value": 0},
    {"slot": 2, "name": "Calibration Flag", "value": 0},
    {"slot": 3, "name": "RFCONT Byte", "value": 2},
    {"slot": 4, "name": "Test Frequency", "value": 799},
    {"slot": 5, "name": "Local Osc Frequency", "value": 614},
    {"slot": 6, "name": "CONFIG Byte", "value": 10},
    {"slot": 7, "name": "TVG Clock", "value": 14},
    {"slot": 8, "name": "Ramp Start", "value": 205},
    {"slot": 9, "name": "Ramp Clock", "value": 18},
    {"slot": 10, "name": "Depth Clock", "value": 19},
    {"slot": 11, "name": "Blanking", "value": 14},
    {"slot": 12, "name": "Jam Prescale", "value": 63},
    {"slot": 13, "name": "PHI-1 Clock", "value": 24},
    {"slot": 14, "name": "PHI-2 Clock", "value": 95},
    {"slot": 15, "name": "E2PHI-1 Clock", "value": 59},
    {"slot": 16, "name": "E2PHI-2 Clock", "value": 48},
    {"slot": 17, "name": "Ref Clock", "value": 62},
    {"slot": 18, "name": "E/S Gain", "value": 0},
    {"slot": 19, "name": "Gimble Gain", "value": 36},
    {"slot": 20, "name": "RF Gain", "value": 64},
    {"slot": 21, "name": "RF1 Q Pot", "value": 0},
    {"slot": 22, "name": "RF1 Tune 1 Pot", "value": 100},
    {"slot": 23, "name": "RF1 Tune 2 Pot", "value": 100},
    {"slot": 24, "name": "RF2 Q Pot", "value": 0},
    {"slot": 25, "name": "RF2 Tune1 Pot", "value": 100},
    {"slot": 26, "name": "RF2 Tune 2 Pot", "value": 100},
    {"slot": 27, "name": "E1 Int Constant", "value": 267},
    {"slot": 28, "name": "E2 Int Constant", "value": 267},
    {"slot": 29, "name": "Tx Int Const", "value": 0},
    {"slot": 30, "name": "Tx Pulse Integral", "value": 1234},
    {"slot": 31, "name": "Tolvek String", "value": 7}
  ]
}
)json";

// A minimal file: slots 1..29 only, each holding its slot number, in any order,
// with fields nobody knows.
std::string minimalText(const std::string& replaceSlot8 = "{\"slot\": 8, \"value\": 8}") {
  std::string list;
  for (int s = 29; s >= 1; --s) {
    if (!list.empty()) list += ",";
    list += s == 8 ? replaceSlot8
                   : "{\"slot\": " + std::to_string(s) + ", \"value\": " + std::to_string(s) +
                         ", \"note\": \"x\"}";
  }
  return "{\"version\": 1, \"colour\": [1, 2], \"format\": \"ku-setup\", \"slots\": [" + list +
         "]}";
}

TEST(SetupFile, WritesTheDocumentedTextAndReadsItBack) {
  const UnitSetup s = exampleSetup();
  EXPECT_EQ(setupToJson(s).toStdString(), kExampleText);

  const UnitSetup back = setupFromJson(kExampleText, "a.json");
  EXPECT_EQ(back.saved, "2026-03-01T09:15:02.481Z");
  EXPECT_EQ(back.program, "kuctl 1.2");
  EXPECT_EQ(back.device, "/dev/ttyUSB0");
  EXPECT_EQ(back.values, s.values);
}

TEST(SetupFile, UnreadSlotsAreWrittenAsNullAndTextIsEscaped) {
  UnitSetup s = exampleSetup();
  s.values[30].reset();
  s.values[0].reset();
  s.device = "C:\\ports \"odd\"";
  const std::string text = setupToJson(s).toStdString();
  EXPECT_NE(text.find(R"("device": "C:\\ports \"odd\"",)"), std::string::npos) << text;
  EXPECT_NE(text.find(R"json({"slot": 0, "name": "Channel No.(1-4)", "value": null},)json"),
            std::string::npos);
  EXPECT_NE(text.find(R"({"slot": 30, "name": "Tx Pulse Integral", "value": null},)"),
            std::string::npos);
  const UnitSetup back = setupFromJson(QByteArray::fromStdString(text), "b.json");
  EXPECT_EQ(back.device, "C:\\ports \"odd\"");
  EXPECT_FALSE(back.values[0]);
  EXPECT_FALSE(back.values[30]);
  EXPECT_EQ(back.values[31], 7);
}

// A backup's stable device name and reason follow "device", in that order;
// text of any kind reads back as it was written.
TEST(SetupFile, StableNameAndReasonFollowTheDeviceAndAnyTextReadsBack) {
  UnitSetup s = exampleSetup();
  s.deviceById = "/dev/serial/by-id/usb-FTDI_A1-if00";
  s.reason = "restore";
  s.program = "kuctl \xc3\xa9t\xc3\xa9\t\"1.2\"\n\x01";  // UTF-8, a tab, quotes, a line end, ^A
  const std::string text = setupToJson(s).toStdString();
  EXPECT_NE(text.find("  \"device\": \"/dev/ttyUSB0\",\n"
                      "  \"deviceById\": \"/dev/serial/by-id/usb-FTDI_A1-if00\",\n"
                      "  \"reason\": \"restore\",\n"
                      "  \"slots\": [\n"
                      "    {\"slot\": 0, \"name\": \"Channel No.(1-4)\", \"value\": 2},\n"),
            std::string::npos)
      << text;
  // UTF-8 stays as it is; a tab, a quote and a line end get their escapes, ^A its number.
  EXPECT_NE(text.find("\"program\": \"kuctl \xc3\xa9t\xc3\xa9\\t\\\"1.2\\\"\\n\\u0001\","),
            std::string::npos)
      << text;
  const UnitSetup back = setupFromJson(QByteArray::fromStdString(text), "c.json");
  EXPECT_EQ(back.program, s.program);
  EXPECT_EQ(back.deviceById, s.deviceById);
  EXPECT_EQ(back.reason, "restore");
}

// A slot's value is written as the plain whole number, whatever its sign and size.
TEST(SetupFile, ValuesAreWrittenAsPlainWholeNumbers) {
  const std::pair<int, const char*> cases[] = {{0, "0"},         {7, "7"},   {255, "255"},
                                               {32767, "32767"}, {-1, "-1"}, {-32768, "-32768"}};
  for (const auto& [value, written] : cases) {
    UnitSetup s = exampleSetup();
    s.values[8] = static_cast<std::int16_t>(value);
    const std::string text = setupToJson(s).toStdString();
    EXPECT_NE(text.find(std::string("{\"slot\": 8, \"name\": \"Ramp Start\", \"value\": ") +
                        written + "},\n"),
              std::string::npos)
        << text;
  }
}

TEST(SetupFile, ReaderNeedsOnlyFormatVersionAndSlots1To29) {
  const UnitSetup s = setupFromJson(QByteArray::fromStdString(minimalText()), "m.json");
  EXPECT_EQ(s.saved, "");
  EXPECT_EQ(s.device, "");
  EXPECT_FALSE(s.values[0]);
  EXPECT_FALSE(s.values[30]);
  EXPECT_FALSE(s.values[31]);
  for (int slot = 1; slot <= 29; ++slot) EXPECT_EQ(s.values[slot], slot) << slot;

  // Whole numbers written as 8.0 or 8e0 are whole numbers; the limits are inclusive.
  EXPECT_EQ(setupFromJson(QByteArray::fromStdString(minimalText(R"({"slot": 8, "value": 8.0})")),
                          "m.json")
                .values[8],
            8);
  EXPECT_EQ(setupFromJson(QByteArray::fromStdString(minimalText(R"({"slot": 8, "value": 255})")),
                          "m.json")
                .values[8],
            255);
}

struct Refusal {
  const char* name;
  std::string text;
  std::string message;  // what() in full
  int slot;
};

TEST(SetupFile, EveryRefusalNamesTheFileAndWhereItApplies) {
  const std::string head = R"(Cannot use the set-up file "f.json": )";
  std::string wideOver = minimalText();
  const std::string example = kExampleText;
  const std::string cut = example.substr(0, example.find("{\"slot\": 1,"));
  wideOver.replace(wideOver.find("{\"slot\": 4, \"value\": 4"), 22,
                   "{\"slot\": 4, \"value\": 32001");
  std::string noSlot13 = minimalText();
  noSlot13.replace(noSlot13.find("{\"slot\": 13,"), 12, "{\"slot\": 0,");
  const Refusal cases[] = {
      {"empty", "", head + "it is empty.", -1},
      {"blanks only", " \n\t", head + "it is empty.", -1},
      {"not JSON", "slot 4 = 799\n", head + "it is not JSON (illegal value at character 1).", -1},
      {"cut short after slot 0", cut,
       head + "it is not JSON (unterminated array at character 209).", -1},
      {"array", "[1, 2]", head + "it is JSON but not a set-up (no object).", -1},
      {"no format", R"({"version": 1, "slots": []})",
       head + "it names no format (a set-up file has \"format\": \"ku-setup\").", -1},
      {"other format", R"({"format": "ardupilot-params", "version": 1, "slots": []})",
       head + "its format is the text \"ardupilot-params\", not \"ku-setup\".", -1},
      {"no version", R"({"format": "ku-setup", "slots": []})", head + "it names no version.", -1},
      {"version 2", R"({"format": "ku-setup", "version": 2, "slots": []})",
       head + "it is of version 2, and this program reads version 1.", -1},
      {"version as text", R"({"format": "ku-setup", "version": "1", "slots": []})",
       head + "it is of version the text \"1\", and this program reads version 1.", -1},
      {"no slots", R"({"format": "ku-setup", "version": 1})", head + "it has no list of slots.",
       -1},
      {"slots not a list", R"({"format": "ku-setup", "version": 1, "slots": {"1": 2}})",
       head + "it has no list of slots.", -1},
      {"entry not an object", R"({"format": "ku-setup", "version": 1, "slots": [4]})",
       head + "entry 1 of its slots is not a {\"slot\", \"value\"} pair.", -1},
      {"slot 32", R"({"format": "ku-setup", "version": 1, "slots": [{"slot": 32, "value": 1}]})",
       head + "entry 1 of its slots names 32 where a slot number from 0 to 31 belongs.", -1},
      {"slot as text", R"({"format": "ku-setup", "version": 1, "slots": [{"slot": "4"}]})",
       head + "entry 1 of its slots names the text \"4\" where a slot number from 0 to 31 belongs.",
       -1},
      {"missing slot", noSlot13, head + "slot 13 (PHI-1 Clock) is missing.", 13},
      {"duplicated slot", minimalText(R"({"slot": 9, "value": 9})"),
       head + "slot 9 (Ramp Clock) appears twice.", 9},
      {"value as text", minimalText(R"({"slot": 8, "value": "205"})"),
       head + "slot 8 (Ramp Start) holds the text \"205\" where a number belongs.", 8},
      {"fraction", minimalText(R"({"slot": 8, "value": 20.5})"),
       head + "slot 8 (Ramp Start) holds 20.5, not a whole number.", 8},
      {"over the byte limit", minimalText(R"({"slot": 8, "value": 256})"),
       head + "slot 8 (Ramp Start) holds 256, outside its limit of 0 to 255.", 8},
      {"negative", minimalText(R"({"slot": 8, "value": -1})"),
       head + "slot 8 (Ramp Start) holds -1, outside its limit of 0 to 255.", 8},
      {"over the wide limit", wideOver,
       head + "slot 4 (Test Frequency) holds 32001, outside its limit of 0 to 32000.", 4},
      {"no value", minimalText(R"({"slot": 8})"), head + "slot 8 (Ramp Start) has no value.", 8},
      {"null value", minimalText(R"({"slot": 8, "value": null})"),
       head + "slot 8 (Ramp Start) has no value.", 8},
      {"huge number", minimalText(R"({"slot": 8, "value": 1e300})"),
       head + "slot 8 (Ramp Start) holds 1e+300, outside its limit of 0 to 255.", 8},
      // A key twice in one object: the reader would keep one of them silently.
      {"value twice", minimalText(R"({"slot": 8, "value":300,"value":77})"),
       head + "the key \"value\" appears twice in one object (line 1).", -1},
      {"escaped key is the same key", minimalText(R"({"slot": 8, "value": 8, "\u0076alue": 9})"),
       head + "the key \"value\" appears twice in one object (line 1).", -1},
      {"format twice, on line 3",
       "{\"format\": \"ku-setup\",\n \"version\": 1,\n \"format\": \"ku-setup\", \"slots\": []}",
       head + "the key \"format\" appears twice in one object (line 3).", -1},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      setupFromJson(QByteArray::fromStdString(c.text), "f.json");
      ADD_FAILURE() << "accepted";
    } catch (const SetupFileError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
      EXPECT_EQ(e.slot(), c.slot);
      EXPECT_EQ(e.file(), "f.json");
    }
  }
}

TEST(SetupFile, TheSameKeyInDifferentObjectsOrInsideTextIsNoRepeat) {
  // Every entry has its own "slot" and "value"; a name may quote a key, braces
  // and escaped quotes included; and a nested object starts its own keys.
  std::string text = minimalText(
      R"({"slot": 8, "name": "\"value\": {\"value\": 1}", "value": 8, "x": {"value": 1}})");
  text.insert(1, R"("program": "a \"slots\": [", )");
  const UnitSetup s = setupFromJson(QByteArray::fromStdString(text), "f.json");
  EXPECT_EQ(s.values[8], 8);
  EXPECT_EQ(s.program, "a \"slots\": [");
}

TEST(UnitDifferences, SamePortByStableNameElseDeviceAndSameChannel) {
  const SlotValue ch1 = std::int16_t{0}, ch3 = std::int16_t{2};
  const std::string a = "/dev/serial/by-id/usb-A", b = "/dev/serial/by-id/usb-B";
  using Texts = std::vector<std::string>;
  // An adapter in another socket is the same port: its stable name decides.
  EXPECT_EQ(unitDifferences({"/dev/ttyUSB0", a, ch1}, {"/dev/ttyUSB1", a, ch1}), Texts{});
  EXPECT_EQ(unitDifferences({"/dev/ttyUSB0", a, ch3}, {"/dev/ttyUSB0", b, ch1}),
            (Texts{"it was read from " + a + ", this unit is on " + b,
                   "it was read from channel 3, this unit is on channel 1"}));
  // What a backup does not record, or the unit did not report, is no match.
  EXPECT_EQ(unitDifferences({"", "", std::nullopt}, {"/dev/ttyUSB0", "", ch1}),
            (Texts{"it does not record the port it was read from",
                   "it does not record the unit's channel"}));
  EXPECT_EQ(unitDifferences({"/dev/ttyUSB0", "", ch3}, {"/dev/ttyUSB0", "", std::nullopt}),
            Texts{"it was read from channel 3, and this unit's channel was not read back"});
}

TEST(SetupFile, Slots0And30And31AreCheckedButMayBeEmpty) {
  std::string text = minimalText();
  text.insert(text.find("\"slots\": [") + 10,
              R"({"slot": 31, "value": null}, {"slot": 30, "value": 32767},)");
  const UnitSetup s = setupFromJson(QByteArray::fromStdString(text), "f.json");
  EXPECT_EQ(s.values[30], 32767);
  EXPECT_FALSE(s.values[31]);

  std::string bad = minimalText();
  bad.insert(bad.find("\"slots\": [") + 10, R"({"slot": 0, "value": 1.5},)");
  try {
    setupFromJson(QByteArray::fromStdString(bad), "f.json");
    ADD_FAILURE() << "accepted";
  } catch (const SetupFileError& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot use the set-up file \"f.json\": slot 0 (Channel No.(1-4)) holds 1.5, "
                 "not a whole number.");
  }
}

std::string contentOf(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return "<unreadable>";
  return f.readAll().toStdString();
}

class SetupFileOnDisk : public ::testing::Test {
 protected:
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  std::string refusal(const std::string& p) {
    try {
      readSetupFile(p);
    } catch (const SetupFileError& e) {
      return e.what();
    }
    return "accepted";
  }
  QTemporaryDir dir;
};

TEST_F(SetupFileOnDisk, WriteThenReadAndTheFileHoldsTheText) {
  const std::string p = path("a.json");
  writeSetupFile(p, exampleSetup());
  QFile f(QString::fromStdString(p));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll().toStdString(), kExampleText);
  EXPECT_EQ(readSetupFile(p).values, exampleSetup().values);
}

TEST_F(SetupFileOnDisk, RefusesWhatIsNoReadableSetUpFile) {
  EXPECT_EQ(refusal(path("none.json")),
            "Cannot use the set-up file \"" + path("none.json") + "\": there is no such file.");
  EXPECT_EQ(refusal(dir.path().toStdString()),
            "Cannot use the set-up file \"" + dir.path().toStdString() + "\": it is a folder.");

  const std::string empty = path("empty.json");
  QFile(QString::fromStdString(empty)).open(QIODevice::WriteOnly);
  EXPECT_EQ(refusal(empty), "Cannot use the set-up file \"" + empty + "\": it is empty.");

  // 100 MB, sparse: refused by its size, never read.
  const std::string big = path("big.json");
  {
    QFile f(QString::fromStdString(big));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(100LL * 1024 * 1024));
  }
  EXPECT_EQ(refusal(big), "Cannot use the set-up file \"" + big +
                              "\": it is 100.0 MB, far too large for a set-up (they are about 3 "
                              "KB).");

  const std::string locked = path("locked.json");
  writeSetupFile(locked, exampleSetup());
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  if (::geteuid() != 0) {  // root reads it anyway
    EXPECT_EQ(refusal(locked), "Cannot use the set-up file \"" + locked +
                                   "\": it cannot be read (Permission denied).");
  }
}

TEST_F(SetupFileOnDisk, OnlyANewNameOrAWritableRegularFileIsWritten) {
  const std::string fifo = path("fifo"), readOnly = path("read-only.json"),
                    kept = path("kept.json");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(::symlink(path("nowhere.json").c_str(), path("dangling").c_str()), 0);
  for (const std::string& p : {readOnly, kept}) writeSetupFile(p, UnitSetup{});
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);  // refused by its mode bits, for root too
  const std::string readOnlyText = contentOf(readOnly);
  const std::pair<std::string, std::string> refused[] = {
      {"/dev/null", "it is a device, not a regular file; it was left unchanged"},
      {fifo, "it is a FIFO, not a regular file; it was left unchanged"},
      {path("dangling"), "it is a symbolic link to nothing; it was left unchanged"},
      {readOnly, "it is read-only; remove it first to write a new one in its place"},
  };
  for (const auto& [target, reason] : refused) {
    try {
      writeSetupFile(target, exampleSetup());
      ADD_FAILURE() << "written: " << target;
    } catch (const SetupFileError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot write the set-up file \"" + target + "\": " + reason + ".");
    }
  }
  EXPECT_EQ(contentOf(readOnly), readOnlyText);
  // A link to a regular file stays a link; its target takes the text, keeping its mode.
  ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(kept.c_str(), path("link").c_str()), 0);
  writeSetupFile(path("link"), exampleSetup());
  struct stat st {};
  ASSERT_EQ(::lstat(path("link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(kept.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(contentOf(kept), kExampleText);
}

TEST_F(SetupFileOnDisk, WritingIntoAMissingFolderFailsWithTheReason) {
  const std::string p = path("no/such/folder/a.json");
  try {
    writeSetupFile(p, exampleSetup());
    ADD_FAILURE() << "written";
  } catch (const SetupFileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot write the set-up file \"" + p + "\": ", 0), 0u)
        << e.what();
  }
}

}  // namespace
}  // namespace ku
