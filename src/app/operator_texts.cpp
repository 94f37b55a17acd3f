#include "app/operator_texts.h"

#include "model/errors.h"
#include "model/slot_table.h"

namespace ku {

std::string noAccessText(const std::string& device) {
  return "No permission to open the serial port " + device +
         ". Add your user to the dialout group (sudo adduser $USER dialout), then log out and "
         "in again.";
}

std::string heldPortText(const std::string& device) {
  return "The serial port " + device +
         " is held by another program (another KU utility window or kuctl, or a terminal "
         "program). Nothing was sent to it. Close that program, then try again.";
}

std::string uploadBrokenText(int sent, int total, int slot, const std::string& backupPath) {
  std::string text = "The upload stopped after " + std::to_string(sent) + " of " +
                     std::to_string(total) + " bytes, in slot " + std::to_string(slot);
  const char* label = slot >= 0 && slot < kSlotCount ? slotInfo(slot).rowLabel : nullptr;
  if (label) text += std::string(", ") + label;
  text += ". The unit may hold part of the new set-up. ";
  if (backupPath.empty())
    return text + "No backup of the set-up from before the upload was written.";
  return text + "The set-up from before the upload is in the backup " + backupPath +
         "; File > Restore backup (kuctl restore with that file) puts it back.";
}

std::string operatorText(const Message& message) {
  switch (message.kind) {
    case MessageKind::InvalidPort:
      return kInvalidPortText;
    case MessageKind::ShortReply:
      return kShortReplyText;
    case MessageKind::ValueLimit:
      return kValueLimitText;
    case MessageKind::EnterValidNumber:
      return kEnterValidNumberText;
    case MessageKind::NoAccess:
      return noAccessText(message.detail);
    case MessageKind::HeldPort:
      return heldPortText(message.detail);
    case MessageKind::UploadBroken:
    case MessageKind::Other:
      break;
  }
  return message.detail;
}

std::string failureWords(int code) {
  switch (code) {
    case kNoError:
      return "no failure";
    case kInvalidArgument:
      return "a value outside its limits";
    case kOverflow:
      return "a number too large";
    case kDivisionByZero:
      return "a division by zero";
    case kTypeMismatch:
      return "text that is not a number";
    case kFileNotFound:
      return "comms.ini was not found";
    case kInputPastEnd:
      return "comms.ini ends too early";
    case kInvalidUseOfNull:
      return "an empty value in the reference database";
    case kDeviceIo:
      return "a read or write on the port failed";
    case kPortNotOpen:
      return "the port is not open";
    case kInvalidPortNumber:
      return "the port number is not valid";
    case kPortAlreadyOpen:
      return "the device is missing, held by another program or not permitted";
    case kDbFileNotFound:
      return "the reference database was not found";
    case kDbNotValidPassword:
    case kDbTableNotFound:
    case kDbItemNotFound:
    case kDbTypeMismatch:
    case kDbUnrecognised:
      return "the reference database could not be read";
    default:
      return "an unexpected failure";
  }
}

}  // namespace ku
