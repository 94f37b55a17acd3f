#include "app/safeguards.h"

#include <QDateTime>

namespace ku {

std::vector<int> unreadSlotsToSend(UploadKind kind, const UnreadSlots& unread,
                                   const EnteredSlots& entered) {
  std::vector<int> slotList;
  const int last = kind == UploadKind::Defaults ? 0 : kValueSlots - 1;
  for (int s = 0; s <= last; ++s) {
    const auto i = static_cast<std::size_t>(s);
    if (unread[i] && (kind == UploadKind::Defaults || !entered[i])) slotList.push_back(s);
  }
  return slotList;
}

std::string unreadSlotsMessage(UploadKind kind, const std::vector<int>& slotList,
                               bool readBackRan) {
  const char* button = kind == UploadKind::Defaults ? "\"Default\"" : "\"Update\"";
  if (!readBackRan) {
    return std::string("Nothing was sent to the unit. Its set-up has not been read back, so ") +
           button +
           " would have overwritten it with values the unit never reported. Check comms.ini, "
           "the port and the cable, then read the unit back.";
  }
  std::string names;
  for (int s : slotList) {
    if (!names.empty()) names += ", ";
    names += slotCaption(s);
  }
  if (kind == UploadKind::Defaults) {
    return "Nothing was sent to the unit. The last read-back did not get the unit's channel "
           "(" +
           names +
           "), which \"Default\" keeps. Check the cable and the unit's power, then read the "
           "unit back and press \"Default\" again.";
  }
  return "Nothing was sent to the unit. The last read-back did not get " +
         std::string(slotList.size() == 1 ? "this slot" : "these slots") +
         " from the unit: " + names + ". \"Update\" sends every slot and would have overwritten " +
         (slotList.size() == 1 ? "it" : "them") +
         " with values the unit never reported. Check the cable and the unit's power, then "
         "read the unit back, or type a value for each of these slots, and press \"Update\" "
         "again.";
}

std::string uploadWithoutBackupQuestion(const std::string& reason) {
  return reason +
         "\n\nWithout a backup, the unit's present set-up cannot be restored later. Upload "
         "anyway?";
}

UnitSetup setupOfReadBack(const SlotValueArray& values, const UnreadSlots& unread,
                          const std::string& device, const std::string& program,
                          const QDateTime& utc) {
  UnitSetup s;
  s.saved = utc.toUTC().toString(Qt::ISODateWithMs).toStdString();
  s.program = program;
  s.device = device;
  for (int i = 0; i < kRowSlots; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (!unread[k]) s.values[k] = values[k];
  }
  return s;
}

std::vector<int> differingSlots(const UnitSetup& file, const SlotValueArray& unitValues,
                                const UnreadSlots& unread) {
  std::vector<int> slotList;
  for (int s = 1; s <= kValueSlots - 1; ++s) {
    const auto k = static_cast<std::size_t>(s);
    if (unread[k] || !unitValues[k] || unitValues[k] != file.values[k]) slotList.push_back(s);
  }
  return slotList;
}

std::array<std::string, kRowSlots> entriesForSetup(const UnitSetup& file,
                                                   const SlotValueArray& unitValues,
                                                   const UnreadSlots& unread) {
  std::array<std::string, kRowSlots> texts{};
  for (int s : differingSlots(file, unitValues, unread)) {
    const auto k = static_cast<std::size_t>(s);
    if (file.values[k]) texts[k] = std::to_string(*file.values[k]);
  }
  return texts;
}

}  // namespace ku
