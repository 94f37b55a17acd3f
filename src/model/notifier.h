// The operator's message box, as the controller and the entry checks see it: a
// message is a kind, with a detail where the kind needs one. The words are
// chosen by the front end (app/operator_texts.h), so that a decision taken on a
// message looks at its kind, never at its text.
#pragma once

#include <string>

namespace ku {

enum class MessageKind {
  Other,             // detail is the whole text
  InvalidPort,       // comms.ini missing, or its port number refused
  ShortReply,        // the unit's reply to a read-back was missing or short; detail is
                     // what came ("received 12 of 38 characters"), empty when not known
  ValueLimit,        // an upload left out a value outside its limits
  EnterValidNumber,  // a box holds text that is not a number in its range
  NoAccess,          // no rights to the port's device; detail is the device
  HeldPort,          // the device is held by another program; detail is the device
  UploadBroken,      // a write failed during an upload pass; detail is the whole text
};

struct Message {
  MessageKind kind = MessageKind::Other;
  std::string detail;
};

class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void show(const Message& message) = 0;
};

}  // namespace ku
