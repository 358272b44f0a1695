#include "report/run_command.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/text_encoding.h"

namespace orv {
namespace {

// UTF-16LE output starts with its byte order mark, or shows zero high bytes for ASCII text.
bool LooksLikeUtf16Le(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return true;
  if (bytes.size() < 4 || bytes.size() % 2 != 0) return false;
  std::size_t zeroHighBytes = 0;
  for (std::size_t i = 1; i < bytes.size(); i += 2) {
    if (bytes[i] == 0) ++zeroHighBytes;
  }
  return zeroHighBytes * 4 >= bytes.size();  // at least half of the characters
}

std::string Decode(os::SystemInfo& system, const std::vector<std::uint8_t>& bytes) {
  if (!LooksLikeUtf16Le(bytes)) return system.AnsiToUtf8(bytes);
  std::u16string text = Utf16FromLeBytes(bytes);
  if (!text.empty() && text.front() == u'\xFEFF') text.erase(0, 1);
  return Utf16ToUtf8(text);
}

}  // namespace

std::string RunCommand(os::ProcessLauncher& launcher, os::SystemInfo& system,
                       std::string_view commandLine, const std::function<bool()>& stopRequested) {
  os::ProcessStart start;
  start.commandLine = std::string(commandLine);
  start.captureOutput = true;
  os::LaunchStep failedAt = os::LaunchStep::Process;
  auto process = launcher.Launch(start, failedAt);
  if (!process && failedAt == os::LaunchStep::OutputPipe) return {};  // nothing ran
  if (!process) {
    char code[16];
    std::snprintf(code, sizeof code, "%x", process.error());
    return "NG: " + std::string(commandLine) + " " + code;
  }

  // The output is kept raw and decoded once, so a UTF-16 character split between two reads
  // is not lost. What comes beyond the bound is still read, so the child is not blocked on a
  // full pipe, but dropped.
  std::vector<std::uint8_t> output;
  const auto collect = [&output, &process] {
    const std::vector<std::uint8_t> chunk = process->ReadAvailableOutput();
    const std::size_t kept = std::min(chunk.size(), kRunCommandMaxOutputBytes - output.size());
    output.insert(output.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(kept));
  };
  bool forced = false;
  for (int slice = 0;; ++slice) {
    if (process->Wait(kRunCommandSliceMs)) break;
    collect();
    if (slice + 1 >= kRunCommandMaxSlices || (stopRequested && stopRequested())) {
      process->Terminate(1);
      forced = true;
      break;
    }
  }
  if (!forced) collect();
  std::string text = Decode(system, output);
  if (forced) text += "######  コマンド強制終了  ######\n";
  return text;
}

}  // namespace orv
