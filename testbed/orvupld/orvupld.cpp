// ORVUPLD.exe stand-in: the uploader the agent starts after writing messages, for the wine tier.
//
//   "<folder>\ORVUPLD.exe" --poolpath "<pool>" --rcount 6 --rseconds 10 --messagehide
//                          --configpath "<folder>config.ini"
//
// It does what the agent relies on and no more:
// - every run appends its command line, exactly as received, to "ORVUPLD.log" beside the exe
//   (the tests compare it whole);
// - a file "ORVUPLD.exitcode" beside the exe holding a decimal number makes the run end with
//   that code at once;
// - "config.ini" must be readable by the uploader (the agent writes it protected) and start
//   with the UTF-8 mark (its Base64 and JSON the tests read themselves);
// - it takes the pool: every "R*.json" moves to "ORVUPLD.taken\" beside the exe, where the
//   tests read what the agent handed over.
// Exit codes: 0 the pool taken; 19 no --poolpath, 20 no --configpath; 32 config.ini unreadable,
// 33 no UTF-8 mark; 192 a pool file that could not be taken.
#include "../common/standin.h"

#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    const std::wstring folder = standin::ModuleFolder();
    (void)standin::AppendLine(folder + L"ORVUPLD.log", standin::ToUtf8(::GetCommandLineW()));
    if (const auto code = standin::ReadWholeFile(folder + L"ORVUPLD.exitcode", 64)) {
        return static_cast<int>(std::strtoul(code->c_str(), nullptr, 10));
    }
    std::wstring pool;
    std::wstring config;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wstring_view(argv[i]) == L"--poolpath") pool = argv[i + 1];
        if (std::wstring_view(argv[i]) == L"--configpath") config = argv[i + 1];
    }
    if (pool.empty() || ::GetFileAttributesW(pool.c_str()) == INVALID_FILE_ATTRIBUTES) return 19;
    if (config.empty()) return 20;
    const std::optional<std::string> bytes = standin::ReadWholeFile(config, 64 * 1024);
    if (!bytes) return 32;
    if (!bytes->starts_with("\xEF\xBB\xBF")) return 33;

    const std::wstring taken = folder + L"ORVUPLD.taken";
    (void)::CreateDirectoryW(taken.c_str(), nullptr);
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((pool + L"\\R*.json").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int result = 0;
    do {
        const std::wstring name = found.cFileName;
        if (!::MoveFileExW((pool + L"\\" + name).c_str(), (taken + L"\\" + name).c_str(), MOVEFILE_REPLACE_EXISTING)) {
            result = 192;
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return result;
}
