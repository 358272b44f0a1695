// The identify and SMART decoders and the status message's "hd" entry on dumps of real disks
// (some failing, some quirky) that no one here made. The expected values were read off the
// dumps' bytes by hand.
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

std::vector<std::string> DumpNames() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(kDumpDir, error)) {
    if (entry.is_regular_file() && entry.path().filename() != "README.md") names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The dump `name`; fails the test when it cannot be read or parsed.
AtaDump LoadDump(const std::string& name) {
  std::ifstream file(kDumpDir / name, std::ios::binary);
  EXPECT_TRUE(file) << "cannot open " << (kDumpDir / name);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  AtaDump dump;
  std::string error;
  EXPECT_TRUE(diag::ParseAtaDump(bytes, dump, error)) << name << ": " << error;
  return dump;
}

// The "hd" entry of the dump's disk in the first bay, parsed strictly, and the value lines.
struct Report {
  nlohmann::json entry;
  std::string values;
};

Report ReportOf(const AtaDump& dump) {
  const std::string text = diag::HdReport(dump);
  const std::size_t split = text.find("temperature=");
  EXPECT_NE(split, std::string::npos);
  Report report;
  report.values = text.substr(split);
  try {
    report.entry = nlohmann::json::parse(text.substr(0, split));
  } catch (const nlohmann::json::exception& error) {
    ADD_FAILURE() << error.what() << "\n" << text;
  }
  return report;
}

struct Identity {
  const char* dump;
  const char* model;
  const char* fwv;
  const char* serial;
  const char* sataMode;
  const char* ataVersion;
  const char* features;
  std::uint32_t temperature;
  std::uint32_t powerOnHours;
  std::uint32_t powerCycles;
};

const Identity kIdentities[] = {
    {"ST320410A--3.39", "ST320410A", "3.39", "5FB3QF34", "UDMA/100 | UDMA/100", "ATA/ATAPI-6 | ----",
     "S.M.A.R.T, APM, AAM", 40, 30387, 1755},
    {"INTEL_SSDSA2CW120G3--4PC10302", "INTEL SSDSA2CW120G3", "4PC10302", "CVPR109301UZ120LGN", "---- | SATA/300",
     "ATA8-ACS | ATA8-ACS version 4", "S.M.A.R.T, NCQ", 0, 45, 14},
};

TEST(AtaDumps, IdentityTextsAndInterpretedValuesOfTwoDisks) {
  for (const Identity& row : kIdentities) {
    SCOPED_TRACE(row.dump);
    const Report report = ReportOf(LoadDump(row.dump));
    const nlohmann::json& e = report.entry;
    EXPECT_EQ(e["name"], "HDD0");
    EXPECT_EQ(e["model"], row.model);
    EXPECT_EQ(e["fwv"], row.fwv);
    EXPECT_EQ(e["serial"], row.serial);
    EXPECT_EQ(e["sata_md"], row.sataMode);
    EXPECT_EQ(e["ata_ver"], row.ataVersion);
    EXPECT_EQ(e["features"], row.features);
    EXPECT_EQ(e["uptime"], row.powerOnHours);
    EXPECT_EQ(e["tmp"], row.temperature);
    EXPECT_EQ(report.values, "temperature=" + std::to_string(row.temperature) + "\r\npower_on_hours=" +
                                 std::to_string(row.powerOnHours) + "\r\npower_cycles=" +
                                 std::to_string(row.powerCycles) + "\r\n");
  }
}

struct Attribute {
  int id, val, ws, ts;
  const char* dt;
};

// How many attributes each entry lists, and the ones whose worst value, threshold or raw
// digits are irregular: the lookup test below checks every other id and raw number.
struct SmartTable {
  const char* dump;
  std::size_t count;
  std::vector<Attribute> attributes;
};

const SmartTable kTables[] = {
    // A Seagate disk: seven raw bytes, 14 digits.
    {"ST320410A--3.39",
     15,
     {{1, 83, 70, 25, "000000019C5999"}, {7, 89, 60, 30, "00000133423729"}, {195, 100, 253, 0, "00000000000000"},
      {202, 100, 253, 0, "00000000000000"}}},
    // Several numbers packed into raw values, and a vendor id (254) from the range never read.
    {"TOSHIBA_MK1651GSY--38IGT0G5T",
     14,
     {{194, 100, 100, 0, "0035000F0029"}, {241, 100, 100, 0, "0000FF081B50"}, {242, 100, 100, 0, "0001A4DAE358"}}},
};

TEST(AtaDumps, AttributesOfTwoDisksAsTheEntryWritesThem) {
  for (const SmartTable& table : kTables) {
    SCOPED_TRACE(table.dump);
    const nlohmann::json smt = ReportOf(LoadDump(table.dump)).entry["smt"];
    ASSERT_EQ(smt.size(), table.count);
    for (const Attribute& a : table.attributes) {
      SCOPED_TRACE(a.id);
      const auto found = std::find_if(smt.begin(), smt.end(), [&a](const nlohmann::json& e) { return e["id"] == a.id; });
      ASSERT_NE(found, smt.end());
      EXPECT_EQ((*found)["val"], a.val);
      EXPECT_EQ((*found)["ws"], a.ws);
      EXPECT_EQ((*found)["ts"], a.ts);
      EXPECT_EQ((*found)["dt"], a.dt);
    }
  }
}

// For every dump, some without a SMART status: the entry parses strictly, and each attribute
// it writes is the one the lookup finds in the bare sector, with the same raw number.
TEST(AtaDumps, EveryDumpGivesAStrictEntryThatAgreesWithTheLookup) {
  const std::vector<std::string> names = DumpNames();
  ASSERT_EQ(names.size(), 19U) << "the dumps of real disks are missing from " << kDumpDir;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const AtaDump dump = LoadDump(name);
    const Report report = ReportOf(dump);
    const nlohmann::json& e = report.entry;
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
