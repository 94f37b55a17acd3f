// What the tests expect, written out once by hand: the bytes of an upload pass,
// the operator's message texts, the row labels and tooltips. Nothing here is
// taken from the program's own tables or constants, so a test that compares
// with these catches a wrong byte or a wrong letter in the program.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace ku::test {

// The four message texts and the message box's caption, letter for letter
// (the typos and the trailing blank are the unit's own).
inline const std::string kInvalidPortMessage =
    "Invalid Com Port.Either missing comms.ini file or wrong port number,Please read Helpfile ";
inline const std::string kShortReplyMessage =
    "Couldnot get Any or Full string from KU,please verify connection";
inline const std::string kValueLimitMessage =
    "There is error in values limit ,please verfify and try again";
inline const std::string kEnterValidNumberMessage = "Enter Valid number";
inline const std::string kMessageCaption = "TolvekKU";

// The read-back request: blank, "q", "x".
inline const std::string kReadBackRequest = " qx";

// The command bytes of slots 0..33, in the order an upload pass sends them.
inline const std::string kCommandBytes = std::string(
    "rtv@ABCDEFGH"  // 0..11
    "PQRSTU"        // 12..17
    "`abcdefgh"     // 18..26
    "'()"           // 27..29
    "O_\x0Bp",      // 30..33: command byte alone
    34);

// Slots 0..29 carry a value; these five carry two bytes, high byte first.
inline bool isPairSlot(int slot) {
  return slot == 4 || slot == 5 || slot == 27 || slot == 28 || slot == 29;
}

using UploadValues = std::array<int, 30>;

// The built-in defaults of slots 0..29 (slot 0, the channel, is always replaced
// by the unit's own before a default upload).
inline constexpr UploadValues kBuiltInDefaults = {0,  0,  0,   2,   799, 614, 10,  14,  205, 18,
                                                  19, 14, 63,  24,  95,  59,  48,  62,  0,   36,
                                                  64, 0,  100, 100, 0,   100, 100, 267, 267, 0};

// The 69 bytes of one pass that sends v (0..255, or 0..32767 for a pair).
inline std::string uploadOf(const UploadValues& v) {
  std::string s;
  for (int slot = 0; slot < 34; ++slot) {
    s += kCommandBytes[static_cast<std::size_t>(slot)];
    if (slot >= 30) continue;
    const int x = v[static_cast<std::size_t>(slot)];
    if (isPairSlot(slot)) s += static_cast<char>(x >> 8);
    s += static_cast<char>(x & 0xFF);
  }
  return s;
}

// The default pass for a unit on channel byte c, byte by byte as it must go out.
inline std::string defaultUpload(unsigned char channel) {
  return std::string("r") + static_cast<char>(channel) +
         std::string(
             "t\x00v\x00@\x02"
             "A\x03\x1F"
             "B\x02\x66"
             "C\x0A"
             "D\x0E"
             "E\xCD"
             "F\x12"
             "G\x13"
             "H\x0E"
             "P\x3F"
             "Q\x18"
             "R\x5F"
             "S\x3B"
             "T\x30"
             "U\x3E"
             "`\x00"
             "a\x24"
             "b\x40"
             "c\x00"
             "d\x64"
             "e\x64"
             "f\x00"
             "g\x64"
             "h\x64"
             "'\x01\x0B"
             "(\x01\x0B"
             ")\x00\x00"
             "O_\x0Bp",
             67);
}

// The main window's rows 0..31: the row label and the entry box's tooltip.
struct RowNames {
  const char* label;
  const char* tooltip;
};
inline constexpr std::array<RowNames, 32> kRowNames = {{
    {"Channel No.(1-4)", "Channel No (No need to enter)"},
    {"Frequency Flag", "Frequency Flag(Either 0 or 1)"},
    {"Calibration Flag", "Calibration Flag(Either 0 or 1)"},
    {"RFCONT Byte", "RF control Byte"},
    {"Test Frequency", "Test Frequency"},
    {"Local Osc Frequency", "Local Osc Frequency"},
    {"CONFIG Byte", "Control Config Byte"},
    {"TVG Clock", "TVG clock"},
    {"Ramp Start", "Ramp Start"},
    {"Ramp Clock", "Ramp Clock"},
    {"Depth Clock", "Depth Clock"},
    {"Blanking", "Blanking"},
    {"Jam Prescale", "Jam Prescale"},
    {"PHI-1 Clock", "PHI-1 Clock"},
    {"PHI-2 Clock", "PHI-2 Clock"},
    {"E2PHI-1 Clock", "E2PHI-1 Clock"},
    {"E2PHI-2 Clock", "E2PHI-2 Clock"},
    {"Ref Clock", "Ref Clock"},
    {"E/S Gain", "Echo Sounder Gain"},
    {"Gimble Gain", "Gimble Gain"},
    {"RF Gain", "RF Gain"},
    {"RF1 Q Pot", "RF1 Q pot"},
    {"RF1 Tune 1 Pot", "RF1 Tune1 Pot"},
    {"RF1 Tune 2 Pot", "RF1 Tune 2 Pot"},
    {"RF2 Q Pot", "RF2 Q Pot"},
    {"RF2 Tune1 Pot", "RF2 Tune1 Pot"},
    {"RF2 Tune 2 Pot", "RF2 Tune2  Pot"},
    {"E1 Int Constant", "E1 Integration Constant"},
    {"E2 Int Constant", "E2 Integration Constant"},
    {"Tx Int Const", "Tx Integration Constant"},
    {"Tx Pulse Integral", "Tx Pulse Integral"},
    {"Tolvek String", "Tolvek String (No need to change)"},
}};

}  // namespace ku::test
