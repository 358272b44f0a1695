#include "orvdiag/orvdiag.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace orv::diag {
namespace {

namespace fs = std::filesystem;

std::string Section(const std::string& tag, std::size_t length, char fill = '\x11') {
  std::string bytes = tag;
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((length >> shift) & 0xFF));
  return bytes + std::string(length, fill);
}

fs::path TempFile(const std::string& name, const std::string& bytes) {
  const fs::path path = fs::path(::testing::TempDir()) / ("orvdiag_" + name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Every refusal is one line on standard error, nothing on standard output, and exit code 2.
TEST(Orvdiag, WrongArgumentsAndBadFilesGiveOneLineAndExitCode2) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"hd", "a", "b"}, {"smart", "file"}, {"HD", "file"}}) {
    std::string out = "stale";
    std::string err;
    EXPECT_EQ(RunOrvdiag(args, out, err), kExitFailure) << args.size();
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "usage: orvdiag hd FILE\n");
  }
  const std::string identify = Section("IDFY", 512);
  const fs::path missing = fs::path(::testing::TempDir()) / "orvdiag_missing_dump";
  fs::remove(missing);
  struct Row {
    const char* name;
    std::string bytes;  // written to a file of that name unless it is a path below
    std::string reason;
    fs::path path = {};
  };
  const Row rows[] = {
      {"empty", "", "no IDFY section"},
      {"length past the end", Section("IDFY", 512).substr(0, 108), "section 'IDFY' claims 512 bytes, 100 remain"},
      {"huge length", std::string("SMDT\xFF\xFF\xFF\xFF", 8) + "abc", "section 'SMDT' claims 4294967295 bytes, 3 remain"},
      {"identify too long", Section("IDFY", 513), "section IDFY has 513 bytes, not 512"},
      {"twice", identify + identify, "section IDFY appears twice"},
      {"binary tag", Section(std::string("\x01\x02\n\xFF", 4), 2), "unknown section 0x01020AFF at byte 0"},
      {"big", identify + std::string(1024 * 1024, '\0'), "is larger than 1048576 bytes"},
      {"missing", "", "cannot be opened", missing},
      {"directory", "", "is a directory", fs::path(::testing::TempDir())},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path path = row.path.empty() ? TempFile("bad", row.bytes) : row.path;
    std::string out;
    std::string err;
    EXPECT_EQ(RunOrvdiag({"hd", path.string()}, out, err), kExitFailure);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "orvdiag: " + path.string() + ": " + row.reason + "\n");
  }
}

TEST(Orvdiag, ADiskWithoutSmartSectorsHasAnEntryWithoutSmart) {
  // Zero identify data and a SMART data sector without thresholds: SMART is not valid.
  const fs::path path = TempFile("nosmart", Section("IDFY", 512, '\0') + Section("SMDT", 512, '\x05'));
  std::string out;
  std::string err;
  ASSERT_EQ(RunOrvdiag({"hd", path.string()}, out, err), kExitOk) << err;
  EXPECT_EQ(err, "");
  EXPECT_NE(out.find("\"tmp\":null,\r\n            \"load\":null,\r\n            \"smt\":[\r\n            ],\r\n"), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("temperature=0\r\npower_on_hours=0\r\npower_cycles=0\r\n"));
}

// The built program, as a user runs it: its bytes on standard output are the report's.
TEST(Orvdiag, TheProgramWritesTheReportBytesAndItsExitCode) {
  const fs::path dump = fs::path(ORV_ATA_TESTDATA_DIR) / "ST320410A--3.39";
  const fs::path out = fs::path(::testing::TempDir()) / "orvdiag_out";
  const fs::path err = fs::path(::testing::TempDir()) / "orvdiag_err";
  const auto run = [&](const fs::path& file) {
    const std::string command = "'" + std::string(ORVDIAG_BINARY) + "' hd '" + file.string() + "' >'" +
                                out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  ASSERT_EQ(run(dump), 0) << ReadAll(err);
  std::string expected;
  std::string unused;
  ASSERT_EQ(RunOrvdiag({"hd", dump.string()}, expected, unused), kExitOk);
  EXPECT_EQ(ReadAll(out), expected);
  EXPECT_EQ(ReadAll(err), "");
  EXPECT_EQ(run(TempFile("program_bad", "IDFY")), 2);
}

}  // namespace
}  // namespace orv::diag
