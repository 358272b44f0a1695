// What a monitor posted, as the fields a test compares: drained from a queue in posting order.
#pragma once

#include <gtest/gtest.h>

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

// A plain event, which carries no state: only its id, parameter and message vary.
struct Notice {
  int actId;
  std::string para;
  std::string msg;
  friend bool operator==(const Notice&, const Notice&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Notice& n) {
    return out << n.actId << " [" << n.para << "] " << n.msg;
  }
};

// The queue's events as notices; an event with a state or a trigger fails the test.
inline std::vector<Notice> DrainNotices(EventQueue& queue) {
  std::vector<Notice> posted;
  queue.Drain([&posted](const AgentEvent& e) {
    EXPECT_EQ(e.act_sts, 0) << e.act_id;
    EXPECT_EQ(e.act_trg, "") << e.act_id;
    posted.push_back({e.act_id, e.act_para, e.msg});
  });
  return posted;
}

}  // namespace orv::testing
