// svcctl: drives and inspects a Windows service for the wine test tier.
//
// Wine's sc.exe has no `control` and no `interrogate`, and prints non-ASCII
// text as '?'. The tests need both the user-defined controls (128-255) and the
// exact UTF-16 texts of a service's configuration, so this tool talks to the
// service control manager directly and writes UTF-8 to stdout.
//
// Exit status is 0 on success or the Win32 error code of the failing call, so
// a script can tell "no such service" (1060) from "refused" (1052, 1061, ...).
// `wait` is the exception: it exits 1 when the time-out elapses. Failures
// also print "svcctl: CALL failed: error=N" on stderr (see Fail).

#include "../common/standin.h"

#include <cerrno>
#include <cwchar>

namespace {

// Owns an SC_HANDLE; every early return in this tool closes what it opened.
class ScHandle {
public:
    ScHandle() = default;
    explicit ScHandle(SC_HANDLE h) : handle_(h) {}
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    ~ScHandle() {
        if (handle_ != nullptr) {
            CloseServiceHandle(handle_);
        }
    }
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_ = nullptr;
};

std::string ToUtf8(const wchar_t* text) { return text == nullptr ? std::string() : standin::ToUtf8(text); }

// Raw bytes: no CRT text-mode translation, so tests see exactly the UTF-8 with '\n' line ends.
void WriteRaw(DWORD which, const std::string& text) { standin::WriteStd(which, text); }

void Out(const std::string& text) { WriteRaw(STD_OUTPUT_HANDLE, text); }
void Err(const std::string& text) { WriteRaw(STD_ERROR_HANDLE, text); }

std::string Hex(DWORD value) {
    char buf[16];
    wsprintfA(buf, "0x%03lX", static_cast<unsigned long>(value));
    return buf;
}

// Whole-string unsigned parse (decimal or 0x-prefixed hex); junk is rejected
// rather than silently read as 0, which would send the wrong control code.
std::optional<DWORD> ParseNumber(const wchar_t* text) {
    if (text == nullptr || *text == L'\0' || *text == L'-' || *text == L'+') {
        return std::nullopt;
    }
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long long value = std::wcstoull(text, &end, 0);
    if (errno != 0 || end == text || *end != L'\0' || value > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<DWORD>(value);
}

std::optional<DWORD> ParseState(const wchar_t* text) {
    struct Named {
        const wchar_t* name;
        DWORD state;
    };
    static const Named kNames[] = {
        {L"stopped", SERVICE_STOPPED},
        {L"start_pending", SERVICE_START_PENDING},
        {L"stop_pending", SERVICE_STOP_PENDING},
        {L"running", SERVICE_RUNNING},
        {L"continue_pending", SERVICE_CONTINUE_PENDING},
        {L"pause_pending", SERVICE_PAUSE_PENDING},
        {L"paused", SERVICE_PAUSED},
    };
    for (const Named& n : kNames) {
        if (_wcsicmp(text, n.name) == 0) {
            return n.state;
        }
    }
    const auto number = ParseNumber(text);
    if (number && *number >= SERVICE_STOPPED && *number <= SERVICE_PAUSED) {
        return number;
    }
    return std::nullopt;
}

std::string FormatStatus(DWORD state, DWORD win32_exit, DWORD specific, DWORD checkpoint,
                         DWORD hint, DWORD accepted) {
    return "state=" + std::to_string(state) + " exit=" + std::to_string(win32_exit) +
           " specific=" + std::to_string(specific) + " checkpoint=" + std::to_string(checkpoint) +
           " hint=" + std::to_string(hint) + " accepted=" + Hex(accepted) + "\n";
}

// Unix exit statuses keep only the low 8 bits under Wine (1060 arrives as 36),
// so the full code is also printed on stderr in a fixed, parseable form.
int Fail(const char* call) {
    const DWORD error = GetLastError();
    Err(std::string("svcctl: ") + call + " failed: error=" + std::to_string(error) + "\n");
    // An error code of 0 must not look like success to the caller.
    return error != 0 ? static_cast<int>(error) : 1;
}

// Opens the service with `access`; on failure prints the reason and returns
// an empty handle with the Win32 error in `error`.
ScHandle OpenNamedService(const wchar_t* name, DWORD access, int& error) {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        error = Fail("OpenSCManagerW");
        return ScHandle();
    }
    SC_HANDLE service = OpenServiceW(manager.get(), name, access);
    if (service == nullptr) {
        error = Fail("OpenServiceW");
        return ScHandle();
    }
    error = 0;
    return ScHandle(service);
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof(status), &needed) != FALSE;
}

int CmdControl(const wchar_t* name, const wchar_t* code_text) {
    const auto code = ParseNumber(code_text);
    if (!code) {
        Err("control code must be a number\n");
        return ERROR_INVALID_PARAMETER;
    }
    int error = 0;
    ScHandle service = OpenNamedService(
        name,
        SERVICE_USER_DEFINED_CONTROL | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
            SERVICE_INTERROGATE | SERVICE_QUERY_STATUS,
        error);
    if (!service) {
        return error;
    }
    SERVICE_STATUS status{};
    if (!ControlService(service.get(), *code, &status)) {
        return Fail("ControlService");
    }
    Out(FormatStatus(status.dwCurrentState, status.dwWin32ExitCode,
                     status.dwServiceSpecificExitCode, status.dwCheckPoint, status.dwWaitHint,
                     status.dwControlsAccepted));
    return 0;
}

int CmdQuery(const wchar_t* name) {
    int error = 0;
    ScHandle service = OpenNamedService(name, SERVICE_QUERY_STATUS, error);
    if (!service) {
        return error;
    }
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(service.get(), status)) {
        return Fail("QueryServiceStatusEx");
    }
    Out(FormatStatus(status.dwCurrentState, status.dwWin32ExitCode,
                     status.dwServiceSpecificExitCode, status.dwCheckPoint, status.dwWaitHint,
                     status.dwControlsAccepted));
    return 0;
}

int CmdWait(const wchar_t* name, const wchar_t* state_text, const wchar_t* timeout_text) {
    const auto wanted = ParseState(state_text);
    const auto timeout_ms = ParseNumber(timeout_text);
    if (!wanted || !timeout_ms) {
        Err("usage: svcctl wait NAME STATE TIMEOUT_MS (STATE 1-7 or a name such as running)\n");
        return ERROR_INVALID_PARAMETER;
    }
    int error = 0;
    ScHandle service = OpenNamedService(name, SERVICE_QUERY_STATUS, error);
    if (!service) {
        return error;
    }
    const ULONGLONG deadline = GetTickCount64() + *timeout_ms;
    DWORD last_state = 0;
    for (;;) {
        SERVICE_STATUS_PROCESS status{};
        if (!QueryStatus(service.get(), status)) {
            return Fail("QueryServiceStatusEx");
        }
        last_state = status.dwCurrentState;
        if (last_state == *wanted) {
            Out(FormatStatus(status.dwCurrentState, status.dwWin32ExitCode,
                             status.dwServiceSpecificExitCode, status.dwCheckPoint,
                             status.dwWaitHint, status.dwControlsAccepted));
            return 0;
        }
        if (GetTickCount64() >= deadline) {
            break;
        }
        Sleep(50);
    }
    Err("svcctl: timed out; last state=" + std::to_string(last_state) + "\n");
    return 1;
}

int CmdConfig(const wchar_t* name) {
    int error = 0;
    ScHandle service = OpenNamedService(name, SERVICE_QUERY_CONFIG, error);
    if (!service) {
        return error;
    }

    // Size first, then fetch: the strings live inside the same buffer.
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
        return Fail("QueryServiceConfigW");
    }
    std::vector<BYTE> config_buf(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config_buf.data());
    if (!QueryServiceConfigW(service.get(), config, needed, &needed)) {
        return Fail("QueryServiceConfigW");
    }

    // The record itself needs room, so the sizing call always fails; only
    // ERROR_INSUFFICIENT_BUFFER means "go ahead". A service without a
    // description comes back with a null lpDescription.
    needed = 0;
    QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
        return Fail("QueryServiceConfig2W");
    }
    std::vector<BYTE> desc_buf(needed);
    if (!QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, desc_buf.data(), needed,
                              &needed)) {
        return Fail("QueryServiceConfig2W");
    }
    const std::string description =
        ToUtf8(reinterpret_cast<SERVICE_DESCRIPTIONW*>(desc_buf.data())->lpDescription);

    Out("type=" + std::to_string(config->dwServiceType) + "\n" +
        "start=" + std::to_string(config->dwStartType) + "\n" +
        "error=" + std::to_string(config->dwErrorControl) + "\n" +
        "account=" + ToUtf8(config->lpServiceStartName) + "\n" +
        "binary=" + ToUtf8(config->lpBinaryPathName) + "\n" +
        "display=" + ToUtf8(config->lpDisplayName) + "\n" +
        "description=" + description + "\n");
    return 0;
}

// Plays a pipe client such as the power-manager service: connects to \\.\pipe\NAME (waiting
// while it is busy), sends TEXT as UTF-16LE without terminator and prints the answer.
int CmdPipe(const wchar_t* name, const wchar_t* text) {
    const std::wstring path = std::wstring(L"\\\\.\\pipe\\") + name;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
        if (pipe == INVALID_HANDLE_VALUE) Sleep(100);  // not listening yet, or busy: bounded retry
    }
    if (pipe == INVALID_HANDLE_VALUE) return Fail("CreateFileW");
    const DWORD size = static_cast<DWORD>(wcslen(text) * sizeof(wchar_t));
    DWORD written = 0;
    if (!WriteFile(pipe, text, size, &written, nullptr) || written != size) {
        const int error = Fail("WriteFile");
        CloseHandle(pipe);
        return error;
    }
    wchar_t answer[256] = {};
    DWORD read = 0;
    const BOOL ok = ReadFile(pipe, answer, sizeof(answer) - sizeof(wchar_t), &read, nullptr);
    const int error = ok ? 0 : Fail("ReadFile");
    CloseHandle(pipe);
    if (error != 0) return error;
    answer[read / sizeof(wchar_t)] = L'\0';
    Out(ToUtf8(answer) + "\n");
    return 0;
}

int Usage() {
    Err("usage:\n"
        "  svcctl control NAME CODE\n"
        "  svcctl query NAME\n"
        "  svcctl wait NAME STATE TIMEOUT_MS\n"
        "  svcctl config NAME\n"
        "  svcctl pipe NAME TEXT\n");
    return ERROR_INVALID_PARAMETER;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return Usage();
    }
    const wchar_t* command = argv[1];
    const wchar_t* name = argv[2];
    if (_wcsicmp(command, L"control") == 0 && argc == 4) {
        return CmdControl(name, argv[3]);
    }
    if (_wcsicmp(command, L"query") == 0 && argc == 3) {
        return CmdQuery(name);
    }
    if (_wcsicmp(command, L"wait") == 0 && argc == 5) {
        return CmdWait(name, argv[3], argv[4]);
    }
    if (_wcsicmp(command, L"config") == 0 && argc == 3) {
        return CmdConfig(name);
    }
    if (_wcsicmp(command, L"pipe") == 0 && argc == 4) {
        return CmdPipe(name, argv[3]);
    }
    return Usage();
}
