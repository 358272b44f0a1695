// UpsSnapshot: what the UPS monitor last read, kept as ready JSON values for the status message.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

struct UpsSnapshot {
  std::string name;  // "\"UPS\"" while a UPS is present; empty means none
  std::string vnd = "null";
  std::string model = "null";
  std::string fwv = "null";
  std::string serial = "null";
  std::string prd_date = "null";
  std::string bt_date = "null";
  std::string bt_sts = "null";
  std::string connect = "null";
  std::string config = "null";
  std::int32_t bt_lev = 0;
  std::string bt_time = "null";
  std::string bt_sec = "null";
  std::string tmp = "null";
  std::int32_t readOk = 1;
};

}  // namespace orv
