#include "monitors/common/condition_tracker.h"

#include <algorithm>

namespace orv {
namespace {

bool IsOpen(const MonitorState& entry) { return entry.act_sts != MonitorState::kNoneOpen; }

}  // namespace

void ConditionTracker::Open(MonitorState& entry, const ConditionOpening& opening,
                            const ConditionItem& item) const {
  AgentEvent event(opening.act_id, clock_);
  event.act_sts = MonitorState::kOpen;
  event.act_trg = opening.act_trg;
  event.act_para = opening.act_para;
  event.msg = opening.message;
  queue_.Post(event);

  entry = MonitorState{};
  entry.act_id = opening.act_id;
  entry.act_sts = MonitorState::kOpen;
  entry.act_trg = RowText(opening.act_trg);
  entry.act_para = RowText(opening.act_para);
  entry.msg = RowText(opening.status);
  entry.item_key = RowText(item.key);
  entry.item_number = item.number;
  entry.item_code = item.code;
}

void ConditionTracker::PostClosing(const MonitorState& entry,
                                   const ConditionClosing& closing) const {
  AgentEvent event(entry.act_id, clock_);
  event.act_sts = MonitorState::kClosed;
  event.act_trg = entry.act_trg;
  event.act_para = closing.act_para;
  event.msg = closing.message;
  queue_.Post(event);
}

ConditionChange ConditionTracker::Track(MonitorState& entry, bool present,
                                        const ConditionOpening& opening,
                                        const ConditionClosing& closing,
                                        const ConditionItem& item) const {
  if (present == IsOpen(entry)) return ConditionChange::None;
  if (present) {
    Open(entry, opening, item);
    return ConditionChange::Opened;
  }
  PostClosing(entry, closing);
  entry = MonitorState{};
  return ConditionChange::Closed;
}

ConditionChange ConditionTracker::Track(std::vector<MonitorState>& list, ItemMatch match,
                                        const ConditionItem& item, bool present,
                                        const ConditionOpening& opening,
                                        const ConditionClosing& closing) const {
  const std::string storedKey = match == ItemMatch::ByKey ? RowText(item.key) : std::string();
  const auto found = std::find_if(list.begin(), list.end(), [&](const MonitorState& entry) {
    return match == ItemMatch::ByKey ? entry.item_key == storedKey : entry.item_code == item.code;
  });
  const bool open = found != list.end() && IsOpen(*found);
  if (present == open) return ConditionChange::None;
  if (present) {
    // A matching entry with act_sts 0 (only a hand-edited or foreign row gives one) is
    // reused: appending beside it would leave it first in line, so the item would look
    // closed again every round and its condition be reported and appended round after round.
    Open(found != list.end() ? *found : list.emplace_back(), opening, item);
    return ConditionChange::Opened;
  }
  PostClosing(*found, closing);
  list.erase(found);
  return ConditionChange::Closed;
}

}  // namespace orv
