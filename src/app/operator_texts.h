// The operator's texts: the message boxes' words for each kind of message, and
// plain words for the failure codes that would otherwise reach the operator as
// bare numbers.
#pragma once

#include <string>

#include "model/notifier.h"

namespace ku {

inline constexpr const char* kAppTitle = "TolvekKU";
// The main window's caption: the title with the space it has always carried.
inline constexpr const char* kMainWindowCaption = "TolvekKU ";
inline constexpr const char* kInvalidPortText =
    "Invalid Com Port.Either missing comms.ini file or wrong port number,Please read Helpfile ";
inline constexpr const char* kShortReplyText =
    "Couldnot get Any or Full string from KU,please verify connection";
inline constexpr const char* kValueLimitText =
    "There is error in values limit ,please verfify and try again";
inline constexpr const char* kEnterValidNumberText = "Enter Valid number";

// No rights to the port's device: which device, and the remedy.
std::string noAccessText(const std::string& device);
// The port's device is open and locked by another program: which device, and the remedy.
std::string heldPortText(const std::string& device);

// An upload pass that broke off after `sent` of `total` bytes, at a byte of
// `slot`: how far it got, that the unit may hold part of the new set-up, and
// where the set-up from before is kept (backupPath; empty when none was written).
std::string uploadBrokenText(int sent, int total, int slot, const std::string& backupPath);

// The words of a message box.
std::string operatorText(const Message& message);

// What a failure code means, in a few words ("the port is not open").
std::string failureWords(int code);

}  // namespace ku
