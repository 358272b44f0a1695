// Stand-in update installer, for the wine tier (tests copy it under the name an update
// package carries, e.g. "ORVSetup.exe", and sign it when the test needs a signature).
//
// It only records that it ran: one line "<process id>\t<own path>\t<command line>" (UTF-8,
// the command line exactly as received) appended to a log file, and exits 0. The log file is
// "C:\orvsvc-installer.log", or the path written in a file "installer.logpath" (UTF-8, first
// line) beside the executable, so a test can keep runs of different beds apart. It exits 1
// only when it cannot write that line.
// A real installer would stop, replace and restart the agent; this one leaves it alone.
#include "../common/standin.h"

namespace {

std::wstring LogPath() {
    const std::optional<std::string> configured =
        standin::ReadWholeFile(standin::ModuleFolder() + L"installer.logpath", 4096);
    if (configured) {
        std::string line = configured->substr(0, configured->find_first_of("\r\n"));
        if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        const std::optional<std::wstring> path = standin::FromCodePage(CP_UTF8, line);
        if (path && !path->empty()) return *path;
    }
    return L"C:\\orvsvc-installer.log";
}

}  // namespace

int wmain() {
    const std::string line = std::to_string(::GetCurrentProcessId()) + "\t" +
                             standin::ToUtf8(standin::ModulePath()) + "\t" +
                             standin::ToUtf8(::GetCommandLineW());
    return standin::AppendLine(LogPath(), line) ? 0 : 1;
}
