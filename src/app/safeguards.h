// What keeps an upload from losing the unit's set-up: no upload over slots the
// unit never reported, a backup of what it held first, and set-up files laid
// over the unit's values as entries.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/setup_file.h"
#include "model/slot_table.h"

class QDateTime;

namespace ku {

// Per slot 0..31: whether the last read-back left it unread.
using UnreadSlots = std::array<bool, kRowSlots>;
inline UnreadSlots allUnread() {
  UnreadSlots u{};
  u.fill(true);
  return u;
}
// Per slot 0..31: whether its box holds an entry.
using EnteredSlots = std::array<bool, kRowSlots>;

enum class UploadKind { Entries, Defaults };

// The slots that an upload would send although the last read-back left them
// unread: for "Update" every slot 0..29 without an entry, for "Default" slot 0
// (it keeps the unit's channel).
std::vector<int> unreadSlotsToSend(UploadKind kind, const UnreadSlots& unread,
                                   const EnteredSlots& entered);

// The operator's message when an upload is refused for those slots; readBackRan
// is false when no read-back has run since the port was set up.
std::string unreadSlotsMessage(UploadKind kind, const std::vector<int>& slotList,
                               bool readBackRan = true);

// The question asked when the backup before an upload could not be written.
std::string uploadWithoutBackupQuestion(const std::string& reason);

// The set-up read back last, as a set-up file records it: unread slots empty.
UnitSetup setupOfReadBack(const SlotValueArray& values, const UnreadSlots& unread,
                          const std::string& device, const std::string& program,
                          const QDateTime& utc);

// The texts of boxes 0..31 that lay a set-up file over the unit's values: for
// slots 1..29 the file's value where it differs from the unit's (or the unit's
// is unread), empty where they agree; boxes 0, 30 and 31 stay empty.
std::array<std::string, kRowSlots> entriesForSetup(const UnitSetup& file,
                                                   const SlotValueArray& unitValues,
                                                   const UnreadSlots& unread);

// Slots 1..29 whose value in the file differs from the unit's.
std::vector<int> differingSlots(const UnitSetup& file, const SlotValueArray& unitValues,
                                const UnreadSlots& unread);

}  // namespace ku
