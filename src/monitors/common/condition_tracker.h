// ConditionTracker: the open/close rule every monitor follows, so that a condition is
// reported once when it appears and once when it goes, however many rounds it lasts.
//
// Each round a monitor tells the tracker whether a condition of one item is present:
// - present, nothing open for the item: an event (act_sts 1) is posted and the condition is
//   recorded in the item's entry;
// - absent, an entry open: a closing event (act_sts 3, the entry's act_id and act_trg) is
//   posted and the entry is cleared (single table) or removed (list table);
// - otherwise nothing happens.
// An entry counts as open when its act_sts is not 0. Entries keep their texts as rows keep
// them (see RowText), so an entry reloaded after a restart still matches its item.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/monitor_state.h"
#include "os/clock.h"
#include "model/event_queue.h"

namespace orv {

// The item a condition belongs to.
struct ConditionItem {
  std::string key;          // becomes item_key
  std::int32_t code = 0;    // becomes item_code
  std::int32_t number = 0;  // becomes item_number (display only)
};

// What is posted and recorded when a condition opens.
struct ConditionOpening {
  std::int32_t act_id = 0;
  std::string act_trg;
  std::string act_para;
  std::string message;  // the event's message
  std::string status;   // recorded as msg: the status message's text while open
};

// What the closing event carries besides the entry's act_id and act_trg.
struct ConditionClosing {
  std::string act_para;
  std::string message;
};

enum class ConditionChange { None, Opened, Closed };

// Which key finds an item's entry in a list table.
enum class ItemMatch { ByKey, ByCode };

class ConditionTracker {
 public:
  ConditionTracker(EventQueue& queue, os::Clock& clock) : queue_(queue), clock_(clock) {}

  // Applies the rule to a single table's entry; what changed (posting cannot fail).
  ConditionChange Track(MonitorState& entry, bool present, const ConditionOpening& opening,
                        const ConditionClosing& closing, const ConditionItem& item = {}) const;
  // Applies the rule to the first entry of `list` that matches `item`: opening appends an
  // entry (or reuses a matching one with act_sts 0), closing removes it; what changed.
  ConditionChange Track(std::vector<MonitorState>& list, ItemMatch match,
                        const ConditionItem& item, bool present, const ConditionOpening& opening,
                        const ConditionClosing& closing) const;

 private:
  void Open(MonitorState& entry, const ConditionOpening& opening, const ConditionItem& item) const;
  void PostClosing(const MonitorState& entry, const ConditionClosing& closing) const;

  EventQueue& queue_;
  os::Clock& clock_;
};

}  // namespace orv
