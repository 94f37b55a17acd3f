// Judging a reply to "x": the unit's record, short, long, noise, or NMEA 0183
// text from a GPS or a sounder on the same line, and the words the operator reads.
#include <gtest/gtest.h>

#include <string>

#include "link/record_check.h"

namespace ku {
namespace {

// A record of the unit: 38 bytes, some of them not printable.
std::string unitRecord() {
  std::string r(38, '\0');
  for (int i = 0; i < 38; ++i) r[static_cast<std::size_t>(i)] = static_cast<char>(i * 7);
  r[19] = '$';  // a value of 36, as the unit's defaults hold: no sentence
  return r;
}

// The well-known example sentence of a GPS fix, with its checksum.
const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

TEST(ReplyVerdicts, ByLengthAndByContent) {
  struct Case {
    const char* name;
    std::string reply;
    ReplyVerdict verdict;
  };
  const std::string nmea38 = "$SDDPT,23.4,0.5,*5A\r\n$SDDPT,23.5,0.5\r\n";
  ASSERT_EQ(nmea38.size(), 38u);
  const Case cases[] = {
      {"the unit's record", unitRecord(), ReplyVerdict::Record},
      {"nothing", "", ReplyVerdict::Silent},
      {"the first 20 of the record", unitRecord().substr(0, 20), ReplyVerdict::ShortRecord},
      {"the record and a line end", unitRecord() + "\r\n", ReplyVerdict::LongReply},
      {"a record-sized NMEA text", nmea38, ReplyVerdict::Nmea},
      {"one whole sentence", kGga, ReplyVerdict::Nmea},
      {"a sentence heard from its middle", kGga.substr(30) + kGga, ReplyVerdict::Nmea},
      {"printable text with CR LF and no $", "4807.038,N,01131.000\r\n0.9,545.4,M\r\n",
       ReplyVerdict::Nmea},
      {"the record, then a sentence", unitRecord() + kGga, ReplyVerdict::Nmea},
      {"printable text without line ends", std::string(40, 'A'), ReplyVerdict::LongReply},
      {"a $ without CR LF", "$GPGGA,1" + unitRecord(), ReplyVerdict::LongReply},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReplyCheck check = checkReply(c.reply, c.reply.size());
    EXPECT_EQ(check.verdict, c.verdict);
    EXPECT_EQ(check.length, c.reply.size());
  }
}

TEST(ReplyVerdicts, TheLengthCountsWhatWasNotKept) {
  // A flood: only its start is kept, its length is what came.
  const std::string start(kKeptReplyBytes, '\x9C');
  const ReplyCheck check = checkReply(start, 256u << 20);
  EXPECT_EQ(check.verdict, ReplyVerdict::LongReply);
  EXPECT_EQ(check.length, 256u << 20);
  EXPECT_EQ(check.firstBytes.size(), kKeptReplyBytes);
}

TEST(ConfirmLongReply, TheSameFirst38AreTheUnitsUnlessEitherIsNmea) {
  const std::string withLineEnd = unitRecord() + "\r\n";
  auto judge = [](const std::string& r) { return checkReply(r, r.size()); };
  EXPECT_EQ(confirmLongReply(judge(withLineEnd), judge(withLineEnd)).verdict, ReplyVerdict::Record);
  // The second reply came clean: still the same 38.
  EXPECT_EQ(confirmLongReply(judge(withLineEnd), judge(unitRecord())).verdict,
            ReplyVerdict::Record);
  std::string other = withLineEnd;
  other[37] = static_cast<char>(other[37] + 1);
  EXPECT_EQ(confirmLongReply(judge(withLineEnd), judge(other)).verdict, ReplyVerdict::Noise);
  EXPECT_EQ(confirmLongReply(judge(withLineEnd), judge("")).verdict, ReplyVerdict::Noise);
  const ReplyCheck nmea = confirmLongReply(judge(withLineEnd), judge(unitRecord() + kGga));
  EXPECT_EQ(nmea.verdict, ReplyVerdict::Nmea);
  EXPECT_EQ(nmea.length, 38 + kGga.size());  // the message names the NMEA reply
}

TEST(ReplyProblemText, TheOperatorsWords) {
  const std::string noise(412, '\x01');
  EXPECT_EQ(replyProblemText(checkReply(noise, noise.size())),
            "The unit's reply held 412 characters where its record has 38: another device or "
            "noise on this line?");
  const std::string talk = kGga + kGga;
  EXPECT_EQ(replyProblemText(checkReply(talk, talk.size())),
            "The unit's reply held 134 characters where its record has 38: it looks like NMEA "
            "0183 sentences (\"$GPGGA,123519,4807.038,N...\"), a GPS or a sounder wired to this "
            "port?");
  const std::string recordThenTalk = unitRecord() + "$SDDPT,23.4,0.5,*5A\r\n";
  EXPECT_EQ(replyProblemText(checkReply(recordThenTalk, recordThenTalk.size())),
            "The unit's reply held 59 characters where its record has 38: it looks like NMEA "
            "0183 sentences (\"$SDDPT,23.4,0.5,*5A\\r\\n\"), a GPS or a sounder wired to this "
            "port?");
  EXPECT_EQ(replyProblemText(checkReply(unitRecord(), 38)), "");
  EXPECT_EQ(printableBytes(std::string("A\r\n\x01\\", 5)), "A\\r\\n\\x01\\x5C");
}

}  // namespace
}  // namespace ku
