#include "link/record_check.h"

#include <cstdio>

#include "model/slot_table.h"

namespace ku {
namespace {

bool isPrintable(unsigned char c) {
  return c >= 0x20 && c <= 0x7E;
}

bool isLineEnd(unsigned char c) {
  return c == '\r' || c == '\n';
}

// Where the first sentence begins: "$" or "!", at least five printable
// characters (its address and more), then CR LF. npos when there is none.
std::size_t firstSentence(std::string_view b) {
  for (std::size_t start = 0; start < b.size(); ++start) {
    if (b[start] != '$' && b[start] != '!') continue;
    std::size_t i = start + 1;
    while (i < b.size() && isPrintable(static_cast<unsigned char>(b[i])) && b[i] != '$' &&
           b[i] != '!')
      ++i;
    if (i - start > 5 && b.substr(i, 2) == "\r\n") return start;
  }
  return std::string_view::npos;
}

bool isTextWithLineEnds(std::string_view b) {
  if (b.find("\r\n") == std::string_view::npos) return false;
  for (char c : b) {
    const auto u = static_cast<unsigned char>(c);
    if (!isPrintable(u) && !isLineEnd(u)) return false;
  }
  return true;
}

constexpr std::size_t kRecord = static_cast<std::size_t>(kRecordLength);

}  // namespace

bool looksLikeNmea(std::string_view bytes) {
  return firstSentence(bytes) != std::string_view::npos || isTextWithLineEnds(bytes);
}

ReplyCheck checkReply(std::string_view kept, std::size_t length) {
  ReplyCheck c;
  c.length = length;
  c.firstBytes = std::string(kept.substr(0, kKeptReplyBytes));
  if (length == 0) {
    c.verdict = ReplyVerdict::Silent;
  } else if (looksLikeNmea(kept)) {
    c.verdict = ReplyVerdict::Nmea;
  } else if (length < kRecord) {
    c.verdict = ReplyVerdict::ShortRecord;
  } else if (length > kRecord) {
    c.verdict = ReplyVerdict::LongReply;
  } else {
    c.verdict = ReplyVerdict::Record;
  }
  return c;
}

ReplyCheck confirmLongReply(const ReplyCheck& first, const ReplyCheck& second) {
  ReplyCheck c = first;
  if (first.verdict == ReplyVerdict::Nmea || second.verdict == ReplyVerdict::Nmea) {
    c.verdict = ReplyVerdict::Nmea;
    if (first.verdict != ReplyVerdict::Nmea) c = second;
    return c;
  }
  const bool bothFull = first.length >= kRecord && second.length >= kRecord &&
                        first.firstBytes.size() >= kRecord && second.firstBytes.size() >= kRecord;
  const bool agree =
      bothFull && first.firstBytes.compare(0, kRecord, second.firstBytes, 0, kRecord) == 0;
  c.verdict = agree ? ReplyVerdict::Record : ReplyVerdict::Noise;
  return c;
}

std::string printableBytes(std::string_view bytes) {
  std::string s;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') {
      s += "\\r";
    } else if (c == '\n') {
      s += "\\n";
    } else if (isPrintable(c) && c != '\\') {
      s += ch;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      s += buf;
    }
  }
  return s;
}

std::string receivedText(const ReplyCheck& check) {
  const std::string n = std::to_string(check.length);
  switch (check.verdict) {
    case ReplyVerdict::Silent:
      return "received nothing";
    case ReplyVerdict::ShortRecord:
      return "received " + n + " of " + std::to_string(kRecord) + " characters";
    case ReplyVerdict::Nmea:
      return "received " + n + " characters: NMEA sentences?";
    case ReplyVerdict::Record:
      return "received the " + n + "-character record";
    case ReplyVerdict::LongReply:
    case ReplyVerdict::Noise:
      break;
  }
  return "received " + n + " characters where the record has " + std::to_string(kRecord);
}

std::string replyProblemText(const ReplyCheck& check) {
  if (check.verdict == ReplyVerdict::Record) return {};
  const std::string held = "The unit's reply held " + std::to_string(check.length) +
                           " characters where its record has " + std::to_string(kRecord);
  // NMEA text is shown from its first sentence on, whatever came before it.
  std::size_t from = 0;
  if (check.verdict == ReplyVerdict::Nmea) {
    const std::size_t sentence = firstSentence(check.firstBytes);
    if (sentence != std::string_view::npos) from = sentence;
  }
  const std::string start = check.firstBytes.substr(from, kShownReplyBytes);
  const std::string shown =
      "\"" + printableBytes(start) + (check.length > from + start.size() ? "...\"" : "\"");
  if (check.verdict == ReplyVerdict::Nmea)
    return held + ": it looks like NMEA 0183 sentences (" + shown +
           "), a GPS or a sounder wired to this port?";
  if (check.verdict == ReplyVerdict::Silent) return held + ": is the unit connected and on?";
  return held + ": another device or noise on this line?";
}

}  // namespace ku
