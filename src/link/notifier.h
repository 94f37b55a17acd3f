// The operator's message box: modal, OK only, no icon, captioned with the title.
#pragma once

#include <string>

namespace ku {

inline constexpr const char* kAppTitle = "TolvekKU";
inline constexpr const char* kInvalidPortText =
    "Invalid Com Port.Either missing comms.ini file or wrong port number,Please read Helpfile ";
inline constexpr const char* kShortReplyText =
    "Couldnot get Any or Full string from KU,please verify connection";
inline constexpr const char* kValueLimitText =
    "There is error in values limit ,please verfify and try again";
inline constexpr const char* kEnterValidNumberText = "Enter Valid number";

// No rights to the port's device: which device, and the remedy.
inline std::string noAccessText(const std::string& device) {
  return "No permission to open the serial port " + device +
         ". Add your user to the dialout group (sudo adduser $USER dialout), then log out and "
         "in again.";
}

// The port's device is open and locked by another program: which device, and the remedy.
inline std::string heldPortText(const std::string& device) {
  return "The serial port " + device +
         " is held by another program (another KU utility window or kuctl, or a terminal "
         "program). Nothing was sent to it. Close that program, then try again.";
}

class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void show(const std::string& text) = 0;
};

}  // namespace ku
