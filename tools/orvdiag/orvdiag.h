// orvdiag: the disk diagnosis command.
//
//   orvdiag hd FILE
//
// reads a disk dump (orvdiag/ata_dump.h) and prints the "hd" entry that a test status message
// writes for that disk in the first bay of a 4-bay Tavolen appliance, byte for byte (CR LF line
// ends, the entry's own indentation), then the values the agent reads from its SMART data, one
// "name=value" line each. Anything wrong (arguments, an unreadable or malformed file) gives one
// line on standard error and exit code 2.
#pragma once

#include <string>
#include <vector>

#include "orvdiag/ata_dump.h"

namespace orv::diag {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 2;

// The model flags the diagnosis assumes: Tavolen's 4-bay LCD line on Windows Server 2019.
inline constexpr std::uint32_t kDiagnosisModelFlags = 0x100000 | 0x2000 | 0x8;

// What `orvdiag hd` prints for `dump`.
std::string HdReport(const AtaDump& dump);

// The command over its arguments (without the program name), as UTF-8; fills what goes to
// standard output and standard error and gives the exit code.
int RunOrvdiag(const std::vector<std::string>& args, std::string& out, std::string& err);

// RunOrvdiag writing to the process's standard output and standard error.
int OrvdiagMain(const std::vector<std::string>& args);

}  // namespace orv::diag
