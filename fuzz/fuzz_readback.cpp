// The bytes as the unit's answers to a read-back: the first read returns a
// prefix (the answer to " " and "q", thrown away), the second the rest (the
// record). Whatever arrives, the read-back sends exactly " ", "q", "x", decodes
// only what the record layout allows and tells the operator exactly when the
// record is short.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fakes.h"
#include "fuzz_support.h"
#include "link/link.h"
#include "link/notifier.h"
#include "model/slot_table.h"

namespace {

using ku::SlotValueArray;

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

class Hooks : public ku::ReadBackHooks {
 public:
  void showCurrentValue(int row, const std::string& text) override {
    KU_FUZZ_CHECK(row >= 0 && row < ku::kRowSlots);
    captions[static_cast<std::size_t>(row)] = text;
    ++shown;
  }
  void refresh() override {
    KU_FUZZ_CHECK(shown == ku::kRowSlots);  // the column is written before the refresh
    ++refreshes;
  }
  void clearEntry(int slot) override {
    KU_FUZZ_CHECK(slot == cleared);  // in slot order, each once
    ++cleared;
  }
  std::array<std::string, 32> captions;
  int shown = 0;
  int refreshes = 0;
  int cleared = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // First byte: where the first answer ends; the rest: the bytes on the line.
  const std::size_t split = size > 0 ? data[0] : 0;
  const std::string line =
      size > 1 ? std::string(reinterpret_cast<const char*>(data + 1), size - 1) : std::string();
  const std::string noise = line.substr(0, std::min(split, line.size()));
  const std::string record = line.substr(noise.size());

  ku::test::FakeSerialPort port;
  port.open = true;
  port.replies = {noise, record};
  ku::test::FakeSleeper sleeper;
  ku::test::RecordingNotifier notifier;

  // Earlier values: some slots set (to values no record can give), some never set.
  SlotValueArray slots{};
  for (int s = 0; s < 36; ++s) {
    if (s % 3 != 1) slots[static_cast<std::size_t>(s)] = static_cast<std::int16_t>(-1000 - s);
  }
  const SlotValueArray before = slots;
  ku::ReadBackArray readBack{};
  readBack.fill(-7);
  ku::LinkContext ctx{port, sleeper, notifier, slots, readBack};
  Hooks hooks;

  const int last = ku::readBack(ctx, hooks);

  KU_FUZZ_CHECK(port.written == " qx");
  KU_FUZZ_CHECK(sleeper.waits == (std::vector<int>{1000, 1000, 1000}));
  KU_FUZZ_CHECK(port.inputCalls == 2);

  bool anyOverflow = false;
  for (int s = 0; s < ku::kRowSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    const int want = expectedValue(record, s);
    if (want < 0) {
      KU_FUZZ_CHECK(slots[i] == before[i]);
      const Place p = kLayout[i];
      if (p.form != Form::Byte && static_cast<std::size_t>(p.position + 1) <= record.size())
        anyOverflow = true;
    } else {
      KU_FUZZ_CHECK(slots[i].has_value() && *slots[i] == want);
      KU_FUZZ_CHECK(want >= 0 && want <= 32767);
    }
    KU_FUZZ_CHECK(readBack[i] == (slots[i] ? *slots[i] : 0));
    KU_FUZZ_CHECK(hooks.captions[i] == ku::currentValueCaption(s, slots[i]));
  }
  for (std::size_t i = ku::kRowSlots; i < 36; ++i) {
    KU_FUZZ_CHECK(slots[i] == before[i]);
    KU_FUZZ_CHECK(readBack[i] == -7);
  }
  // The channel row shows the channel plus 1, and "1" when it was never set.
  KU_FUZZ_CHECK(hooks.captions[0] == (slots[0] ? std::to_string(*slots[0] + 1) : "1"));

  const bool shortRecord = record.size() < static_cast<std::size_t>(ku::kRecordLength);
  if (shortRecord) {
    KU_FUZZ_CHECK(notifier.messages == std::vector<std::string>{ku::kShortReplyText});
    KU_FUZZ_CHECK(last == ku::kInvalidArgument);
  } else {
    KU_FUZZ_CHECK(notifier.messages.empty());
    KU_FUZZ_CHECK(last == (anyOverflow ? ku::kOverflow : ku::kNoError));
  }
  KU_FUZZ_CHECK(hooks.refreshes == 1);
  KU_FUZZ_CHECK(hooks.cleared == ku::kRowSlots);
  return 0;
}
