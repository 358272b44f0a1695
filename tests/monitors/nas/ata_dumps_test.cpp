// The SMART decoders and the status message's "hd" entry on dumps of real disks (some failing,
// some quirky) that no one here made.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/smart_table.h"
#include "monitors/nas/smart_attributes.h"
#include "orvdiag/ata_dump.h"
#include "orvdiag/orvdiag.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using diag::AtaDump;

const fs::path kDumpDir = ORV_ATA_TESTDATA_DIR;

// The "hd" entry of the dump's disk in the first bay, parsed strictly.
nlohmann::json EntryOf(const AtaDump& dump) {
  const std::string text = diag::HdReport(dump);
  try {
    return nlohmann::json::parse(text.substr(0, text.find("temperature=")));
  } catch (const nlohmann::json::exception& error) {
    ADD_FAILURE() << error.what() << "\n" << text;
  }
  return {};
}

// For every dump, some without a SMART status: the entry parses strictly, and each attribute
// it writes is the one the lookup finds in the bare sector, with the same raw number.
TEST(AtaDumps, EveryDumpGivesAStrictEntryThatAgreesWithTheLookup) {
  std::vector<fs::path> names;
  std::error_code listError;
  for (const auto& entry : fs::directory_iterator(kDumpDir, listError)) {
    if (entry.is_regular_file() && entry.path().filename() != "README.md") names.push_back(entry.path());
  }
  ASSERT_EQ(names.size(), 19U) << "the dumps of real disks are missing from " << kDumpDir;
  for (const fs::path& name : names) {
    SCOPED_TRACE(name);
    std::ifstream file(name, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    AtaDump dump;
    std::string error;
    ASSERT_TRUE(diag::ParseAtaDump(bytes, dump, error)) << error;
    const nlohmann::json e = EntryOf(dump);
    ASSERT_TRUE(e.is_object());
    const std::string model = e["model"];
    EXPECT_FALSE(model.empty());
    const bool seagate = IsSeagateModel(model);
    ASSERT_TRUE(dump.smartData && dump.smartThresholds);
    EXPECT_FALSE(e["smt"].empty()) << "a dump without a SMART status still has its attributes";
    int lastId = 0;
    for (const nlohmann::json& attribute : e["smt"]) {
      const int id = attribute["id"];
      EXPECT_GT(id, lastId);
      EXPECT_LT(id, 251);
      lastId = id;
      std::uint64_t raw = 0;
      std::uint64_t value = 0;
      ASSERT_TRUE(FindSmartAttribute(*dump.smartData, static_cast<std::uint8_t>(id), raw, value, model)) << id;
      char text[24];
      std::snprintf(text, sizeof text, seagate ? "%014llX" : "%012llX", static_cast<unsigned long long>(raw));
      EXPECT_EQ(attribute["dt"], text) << id;
      std::uint8_t current = 0;
      ASSERT_TRUE(SmartCurrentValue(*dump.smartData, static_cast<std::uint8_t>(id), current));
      EXPECT_EQ(attribute["val"], current) << id;
    }
  }
}

}  // namespace
}  // namespace orv
