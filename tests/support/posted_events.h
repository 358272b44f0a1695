// What a monitor posted, as the fields a test compares: drained from a queue in posting order.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "model/event_queue.h"

namespace orv::testing {

struct Posted {
  int actId;
  int sts;
  std::string trg;
  std::string para;
  std::string msg;
  friend bool operator==(const Posted&, const Posted&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Posted& p) {
    return out << p.actId << "/" << p.sts << " [" << p.trg << "][" << p.para << "] " << p.msg;
  }
};

inline std::vector<Posted> DrainPosted(EventQueue& queue) {
  std::vector<Posted> posted;
  queue.Drain([&posted](const AgentEvent& e) { posted.push_back({e.act_id, e.act_sts, e.act_trg, e.act_para, e.msg}); });
  return posted;
}

}  // namespace orv::testing
