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
// 33 no UTF-8 mark; 192 a pool file that could not be taken; 255 an unreadable exit-code file.
#include "../common/standin.h"

#include <shellapi.h>

namespace {

constexpr int kTaken = 0;
constexpr int kBadPoolPath = 19;
constexpr int kBadConfigPath = 20;
constexpr int kConfigUnreadable = 32;
constexpr int kConfigNoMark = 33;
constexpr int kFileNotTaken = 192;
constexpr int kUnexpected = 255;

// The value after `name` on the command line; empty when it is missing.
std::wstring OptionValue(const wchar_t* name) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::wstring value;
    for (int i = 1; argv != nullptr && i + 1 < argc; ++i) {
        if (std::wstring_view(argv[i]) == name) value = argv[i + 1];
    }
    if (argv != nullptr) ::LocalFree(argv);
    return value;
}

int ScriptedExitCode(const std::wstring& path) {
    const std::optional<std::string> text = standin::ReadWholeFile(path, 64);
    if (!text) return kUnexpected;
    std::wstring digits;
    for (char c : *text) {
        if (c >= '0' && c <= '9') digits.push_back(static_cast<wchar_t>(c));
    }
    const std::optional<unsigned long> code = standin::ParseDecimal(digits, 0xFFFFFFFFul);
    return code ? static_cast<int>(*code) : kUnexpected;
}

int TakePool(const std::wstring& pool, const std::wstring& taken) {
    (void)::CreateDirectoryW(taken.c_str(), nullptr);
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((pool + L"\\R*.json").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return kTaken;
    int result = kTaken;
    do {
        const std::wstring name = found.cFileName;
        if (!::MoveFileExW((pool + L"\\" + name).c_str(), (taken + L"\\" + name).c_str(),
                           MOVEFILE_REPLACE_EXISTING)) {
            result = kFileNotTaken;
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return result;
}

int Run() {
    const std::wstring folder = standin::ModuleFolder();
    (void)standin::AppendLine(folder + L"ORVUPLD.log", standin::ToUtf8(::GetCommandLineW()));
    if (standin::IsFile(folder + L"ORVUPLD.exitcode")) return ScriptedExitCode(folder + L"ORVUPLD.exitcode");

    const std::wstring pool = OptionValue(L"--poolpath");
    if (pool.empty() || !standin::IsFolder(pool)) return kBadPoolPath;
    const std::wstring config = OptionValue(L"--configpath");
    if (config.empty()) return kBadConfigPath;
    const std::optional<std::string> bytes = standin::ReadWholeFile(config, 64 * 1024);
    if (!bytes) return kConfigUnreadable;
    if (bytes->rfind("\xEF\xBB\xBF", 0) != 0) return kConfigNoMark;
    return TakePool(pool, folder + L"ORVUPLD.taken");
}

}  // namespace

int wmain() { return Run(); }
