// The bytes as the unit's answers to a read-back: the read after "q" returns a
// prefix (the answer to " " and "q", thrown away), the first look after "x" the
// rest (the record). Whatever arrives, the read-back sends exactly " ", "q", "x", decodes
// only what the record layout allows, keeps the earlier value of every other
// slot (and lists it as unread), shows every row and empties every box, and
// tells the operator exactly when the record is short. The reply is judged as
// the unit's record only when it holds exactly 38 characters (or a longer
// reply that the next read-back repeats) and no NMEA 0183 text; nothing else
// is uploaded.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/operator_texts.h"
#include "app/unit_controller.h"
#include "fakes.h"
#include "fuzz_support.h"
#include "model/slot_table.h"

namespace {

// The record layout, written out again here so that the decoder is checked
// against the table and not against itself: first position (from 1) and form.
enum class Form { Byte, HighFirst, LowFirst };
struct Place {
  int position;
  Form form;
};
constexpr std::array<Place, 32> kLayout = {{
    {1, Form::Byte},       {2, Form::Byte},       {3, Form::Byte},      {4, Form::Byte},
    {5, Form::HighFirst},  {7, Form::HighFirst},  {9, Form::Byte},      {10, Form::Byte},
    {11, Form::Byte},      {12, Form::Byte},      {13, Form::Byte},     {14, Form::Byte},
    {15, Form::Byte},      {16, Form::Byte},      {17, Form::Byte},     {18, Form::Byte},
    {19, Form::Byte},      {20, Form::Byte},      {21, Form::Byte},     {22, Form::Byte},
    {23, Form::Byte},      {24, Form::Byte},      {25, Form::Byte},     {26, Form::Byte},
    {27, Form::Byte},      {28, Form::Byte},      {29, Form::Byte},     {30, Form::HighFirst},
    {32, Form::HighFirst}, {34, Form::HighFirst}, {36, Form::LowFirst}, {38, Form::Byte},
}};

// The value the layout gives slot s, or -1 when the slot keeps its old value.
int expectedValue(const std::string& record, int slot) {
  const Place p = kLayout[static_cast<std::size_t>(slot)];
  auto at = [&](int pos) {
    return static_cast<unsigned char>(record[static_cast<std::size_t>(pos - 1)]);
  };
  const int needed = p.form == Form::Byte ? p.position : p.position + 1;
  if (static_cast<std::size_t>(needed) > record.size()) return -1;
  switch (p.form) {
    case Form::Byte:
      return at(p.position);
    case Form::HighFirst:
      return at(p.position) >= 128 ? -1 : at(p.position) * 256 + at(p.position + 1);
    case Form::LowFirst:
      return at(p.position + 1) >= 128 ? -1 : at(p.position + 1) * 256 + at(p.position);
  }
  return -1;
}

// A complete record read first, so that every slot holds a value before the
// fuzzed one: slot s holds 100 + s, the pairs 0x0100 + s.
std::string earlierRecord() {
  std::string r(38, '\0');
  for (int s = 0; s < 32; ++s) {
    const Place p = kLayout[static_cast<std::size_t>(s)];
    const auto at = static_cast<std::size_t>(p.position - 1);
    if (p.form == Form::Byte) {
      r[at] = static_cast<char>(100 + s);
    } else {
      r[at + (p.form == Form::HighFirst ? 0 : 1)] = 0x01;
      r[at + (p.form == Form::HighFirst ? 1 : 0)] = static_cast<char>(s);
    }
  }
  return r;
}

int earlierValue(int slot) {
  return kLayout[static_cast<std::size_t>(slot)].form == Form::Byte ? 100 + slot : 0x0100 + slot;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // First byte: where the first answer ends; the rest: the bytes on the line.
  const std::size_t split = size > 0 ? data[0] : 0;
  const std::string line =
      size > 1 ? std::string(reinterpret_cast<const char*>(data + 1), size - 1) : std::string();
  const std::string noise = line.substr(0, std::min(split, line.size()));
  const std::string record = line.substr(noise.size());

  auto owned = std::make_unique<ku::test::FakeSerialPort>();
  ku::test::FakeSerialPort& port = *owned;
  port.portIsOpen = true;
  port.replies = {"", earlierRecord(), noise, record};
  ku::test::FakeSleeper sleeper;
  ku::test::RecordingNotifier notifier;
  ku::test::EmptyDatabaseOpener opener;
  ku::AppContext
      context;  // port number not accepted: the refresh does nothing, whatever the values
  ku::RecordingUnitView view;
  ku::UnitController controller(context, view, notifier, sleeper, std::move(owned), opener);
  view.attach(&controller);

  KU_FUZZ_CHECK(controller.readBack() == ku::kNoError);
  KU_FUZZ_CHECK(controller.slotsReadAtLastReadBack() == ku::kRowSlots);
  port.written.clear();
  sleeper.waits.clear();
  port.readCalls = 0;
  for (int s = 1; s < 30; ++s) view.setEntryText(s, "7");  // boxes with text are emptied again

  const int last = controller.readBack();

  KU_FUZZ_CHECK(port.written == " qx");
  // " " waits out the rest of the earlier read-back's second after "x" (its
  // record came at the first look, 10 ms after "x"); the record is looked for
  // every 10 ms, until it is complete or the second is over.
  const int looks = record.size() >= 38 ? 1 : 100;
  std::vector<int> waits = {990, 1000, 1000};
  waits.insert(waits.end(), static_cast<std::size_t>(looks), 10);
  KU_FUZZ_CHECK(sleeper.waits == waits);
  KU_FUZZ_CHECK(port.readCalls == 1 + looks);

  bool anyOverflow = false;
  int read = 0;
  const std::vector<int> unread = controller.unreadSlotsToSave();
  // Only a read-back that brought every slot empties the boxes.
  const bool complete = unread.empty();
  for (int s = 0; s < ku::kRowSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    const auto& slots = controller.slotValues();
    const int want = expectedValue(record, s);
    const bool listedUnread = std::find(unread.begin(), unread.end(), s) != unread.end();
    const bool typed = s >= 1 && s < 30 && !complete;  // its box still holds "7"
    KU_FUZZ_CHECK(view.rows[i].entry == (typed ? "7" : ""));
    if (want < 0) {
      // A failed slot keeps what it held: the value typed into its box, else the
      // earlier one; the unit's last reading stays the earlier one, and nothing shows.
      const int kept = s >= 1 && s < 30 ? 7 : earlierValue(s);
      KU_FUZZ_CHECK(slots[i] == ku::SlotValue(static_cast<std::int16_t>(kept)));
      KU_FUZZ_CHECK(controller.readBackValues()[i] ==
                    ku::SlotValue(static_cast<std::int16_t>(earlierValue(s))));
      KU_FUZZ_CHECK(listedUnread);
      KU_FUZZ_CHECK(view.rows[i].current.empty());
      const Place p = kLayout[i];
      if (p.form != Form::Byte && static_cast<std::size_t>(p.position + 1) <= record.size())
        anyOverflow = true;
    } else {
      KU_FUZZ_CHECK(want >= 0 && want <= 32767);
      KU_FUZZ_CHECK(slots[i] == ku::SlotValue(static_cast<std::int16_t>(typed ? 7 : want)));
      KU_FUZZ_CHECK(controller.readBackValues()[i] ==
                    ku::SlotValue(static_cast<std::int16_t>(want)));
      KU_FUZZ_CHECK(!listedUnread);
      const std::string caption = s == 0 ? std::to_string(want + 1) : std::to_string(want);
      KU_FUZZ_CHECK(view.rows[i].current == caption);
      ++read;
    }
  }
  KU_FUZZ_CHECK(controller.slotsReadAtLastReadBack() == read);

  const bool shortRecord = record.size() < static_cast<std::size_t>(ku::kRecordLength);
  if (shortRecord) {
    KU_FUZZ_CHECK(notifier.messages == std::vector<std::string>{ku::kShortReplyText});
    KU_FUZZ_CHECK(last == ku::kInvalidArgument);
  } else {
    KU_FUZZ_CHECK(notifier.messages.empty());
    KU_FUZZ_CHECK(last == (anyOverflow ? ku::kOverflow : ku::kNoError));
  }

  // The reply in full, its second waited out.
  const ku::ReplyCheck reply = controller.lastReply();
  KU_FUZZ_CHECK(reply.length == record.size());
  const bool textLike = record.find('$') != std::string::npos ||
                        record.find('!') != std::string::npos ||
                        record.find("\r\n") != std::string::npos;
  if (record.size() == 38 && !textLike) KU_FUZZ_CHECK(reply.verdict == ku::ReplyVerdict::Record);
  if (record.size() != 38) KU_FUZZ_CHECK(reply.verdict != ku::ReplyVerdict::Record);

  // "Default": the next read-back repeats the reply, as a unit would.
  port.replies = {"", record};
  port.written.clear();
  notifier.messages.clear();
  const ku::UploadOutcome sent = controller.runDefaultCommand();
  const std::string& w = port.written;
  if (sent == ku::UploadOutcome::Sent) {
    KU_FUZZ_CHECK(record.size() >= 38);
    KU_FUZZ_CHECK(reply.verdict == ku::ReplyVerdict::Record ||
                  reply.verdict == ku::ReplyVerdict::LongReply);
    // The channel byte of the pass is the reply's first character.
    const std::size_t pass = reply.verdict == ku::ReplyVerdict::Record ? 0 : 3;
    KU_FUZZ_CHECK(w.size() > pass + 1 && w[pass] == 'r' && w[pass + 1] == record[0]);
  } else {
    KU_FUZZ_CHECK(w.empty() || w == " qx");
    KU_FUZZ_CHECK(notifier.messages.size() == 1);
    const std::string held = "The unit's reply held " + std::to_string(record.size()) +
                             " characters where its record has 38";
    KU_FUZZ_CHECK(sent == ku::UploadOutcome::UnreadSlots ||
                  notifier.messages[0].rfind(held, 0) == 0);
  }
  return 0;
}
