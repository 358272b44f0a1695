// Stand-in update installer, for the wine tier (tests copy it under the name an update
// package carries, e.g. "ORVSetup.exe", and sign it when the test needs a signature).
//
// It only records that it ran: one line "<process id>\t<own path>\t<command line>" (UTF-8,
// the command line exactly as received) appended to "C:\orvsvc-installer.log", and exits 0,
// or 1 when it cannot write that line.
// A real installer would stop, replace and restart the agent; this one leaves it alone.
#include "../common/standin.h"

int wmain() {
    wchar_t path[MAX_PATH] = {};
    (void)::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::string line = std::to_string(::GetCurrentProcessId()) + "\t" + standin::ToUtf8(path) + "\t" +
                             standin::ToUtf8(::GetCommandLineW());
    return standin::AppendLine(L"C:\\orvsvc-installer.log", line) ? 0 : 1;
}
