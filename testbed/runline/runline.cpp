// runline: starts one process from a complete command line, the way the agent starts the
// uploader and the unzip tool (no application name: the quoted path heads the command line),
// waits for it and ends with its exit code, for the wine tier.
//
//   runline.exe [--cwd FOLDER] [--timeout MS] COMMANDLINE
//
// Wine builds a program's command line from the Unix argv with its own quoting, so a test
// cannot hand a program an exact command line directly; through runline the child receives
// COMMANDLINE byte for byte. The wait is bounded (default 60000 ms): a child still running
// then is terminated and runline exits 258 (WAIT_TIMEOUT). Exit 1: wrong command line;
// 2: CreateProcessW failed (its error code on stderr).
#include "../common/standin.h"

int wmain(int argc, wchar_t** argv) {
    std::wstring folder;
    unsigned long timeoutMs = 60000;
    int i = 1;
    for (; i + 1 < argc; i += 2) {
        const std::wstring_view option = argv[i];
        if (option == L"--cwd") {
            folder = argv[i + 1];
        } else if (option == L"--timeout") {
            const std::optional<unsigned long> value = standin::ParseDecimal(argv[i + 1], 3600000);
            if (!value) break;
            timeoutMs = *value;
        } else {
            break;
        }
    }
    if (i != argc - 1 || argv[i][0] == L'\0') {
        standin::WriteStd(STD_ERROR_HANDLE, "usage: runline.exe [--cwd FOLDER] [--timeout MS] COMMANDLINE\r\n");
        return 1;
    }
    std::wstring commandLine = argv[i];  // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        standin::WriteStd(STD_ERROR_HANDLE, "runline: CreateProcessW failed: " +
                                                std::to_string(::GetLastError()) + "\r\n");
        return 2;
    }
    standin::Handle child(process.hProcess);
    standin::Handle thread(process.hThread);
    if (::WaitForSingleObject(child.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(child.get(), WAIT_TIMEOUT);
        ::WaitForSingleObject(child.get(), 10000);
        return WAIT_TIMEOUT;
    }
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(child.get(), &exitCode)) return 2;
    return static_cast<int>(exitCode);
}
