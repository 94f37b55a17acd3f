// What a reply to "x" is: exactly the unit's 38-character record, too short,
// too long, or text from another device on the line (NMEA 0183 sentences from a
// GPS or a sounder, which use the unit's own line setting). Pure: no port, no
// clock. The guard before an upload, kuctl's note and any later look at the line
// all judge a reply here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ku {

enum class ReplyVerdict {
  Record,       // exactly 38 characters, and not text of another device
  Silent,       // nothing came
  ShortRecord,  // 1 to 37 characters
  LongReply,    // more than 38 characters; a second read-back may confirm it
  Nmea,         // looks like NMEA 0183 sentences ("$" or "!", printable text, CR LF)
  Noise,        // a long reply that a second read-back did not repeat
};

struct ReplyCheck {
  ReplyVerdict verdict = ReplyVerdict::Silent;
  std::size_t length = 0;  // every character that came, also those not kept
  std::string firstBytes;  // the reply's first characters, for a message
};

// How many of a reply's characters are kept for its judgement; a longer reply
// is counted, not kept.
inline constexpr std::size_t kKeptReplyBytes = 4096;
// How many characters a message shows.
inline constexpr std::size_t kShownReplyBytes = 24;

// True when the bytes hold an NMEA 0183 sentence ("$" or "!", then printable
// text, then CR LF), or are printable text with CR LF line ends throughout (a
// talker heard from the middle of a sentence).
bool looksLikeNmea(std::string_view bytes);

// Judges one reply from the kept bytes (its start) and its full length.
ReplyCheck checkReply(std::string_view kept, std::size_t length);

// A long reply confirmed by a second read-back: the unit's record when both
// replies begin with the same 38 characters and neither looks like NMEA
// (a unit that ends its record with a line end); otherwise noise, or NMEA when
// either reply looks like it.
ReplyCheck confirmLongReply(const ReplyCheck& first, const ReplyCheck& second);

// Why the reply is not the unit's set-up, in the operator's words, without what
// follows from it ("Nothing was sent."). Empty for a record.
std::string replyProblemText(const ReplyCheck& check);

// What came in reply to "x", in a few words for the line after a message:
// "received nothing", "received 12 of 38 characters", "received 412
// characters: NMEA sentences?".
std::string receivedText(const ReplyCheck& check);

// The bytes as text: printable characters as they are, CR and LF as \r and \n,
// any other byte as \xHH.
std::string printableBytes(std::string_view bytes);

}  // namespace ku
