// Checks every message file a test produces the way the cloud reads it: a byte order mark,
// then one JSON object that a strict parser accepts.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace orv::testing {

inline ::testing::AssertionResult IsStrictJsonMessage(std::string_view bytes) {
  if (!bytes.starts_with("\xEF\xBB\xBF")) return ::testing::AssertionFailure() << "no byte order mark";
  bytes.remove_prefix(3);
  try {
    const auto parsed = nlohmann::json::parse(bytes.begin(), bytes.end());
    if (!parsed.is_object()) return ::testing::AssertionFailure() << "not an object";
  } catch (const nlohmann::json::exception& error) {
    return ::testing::AssertionFailure() << error.what() << "\n" << bytes;
  }
  return ::testing::AssertionSuccess();
}

inline std::string ReadGolden(const std::string& name) {
  std::ifstream file(std::string(ORV_GOLDEN_DIR) + "/" + name, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

}  // namespace orv::testing
