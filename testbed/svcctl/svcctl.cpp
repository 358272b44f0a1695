// svcctl: drives and inspects a Windows service for the wine test tier.
//
// Wine's sc.exe has no `control` and no `interrogate`, and prints non-ASCII text as '?'. The
// tests need the user-defined controls (128-255) and the exact UTF-16 texts of a service's
// configuration, so this tool talks to the service control manager directly and writes UTF-8.
//
// Exit status is 0 on success, else the Win32 error of the failing call (1 when `wait` timed
// out). Unix keeps only its low 8 bits under Wine (1060 arrives as 36), so a failure also prints
// "svcctl: CALL failed: error=N" on stderr.

#include "../common/standin.h"

#include <cstring>
#include <cwchar>
#include <memory>

namespace {

struct ScClose {
    void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScClose>;

void Out(const std::string& text) { standin::WriteStd(STD_OUTPUT_HANDLE, text); }
std::string Utf8(const wchar_t* text) { return text == nullptr ? std::string() : standin::ToUtf8(text); }

int Fail(const char* call) {
    const DWORD error = GetLastError();
    standin::WriteStd(STD_ERROR_HANDLE, std::string("svcctl: ") + call + " failed: error=" + std::to_string(error) + "\n");
    // An error code of 0 must not look like success to the caller.
    return error != 0 ? static_cast<int>(error) : 1;
}

// Whole-string number (decimal or 0x hex); junk is refused rather than read as 0, which would
// send the wrong control code.
bool ParseNumber(const wchar_t* text, DWORD& value) {
    wchar_t* end = nullptr;
    const unsigned long long parsed = std::wcstoull(text, &end, 0);
    value = static_cast<DWORD>(parsed);
    return *text >= L'0' && *text <= L'9' && *end == L'\0' && parsed <= 0xFFFFFFFFull;
}

void PrintStatus(const SERVICE_STATUS& s) {
    char accepted[16];
    wsprintfA(accepted, "0x%03lX", static_cast<unsigned long>(s.dwControlsAccepted));
    Out("state=" + std::to_string(s.dwCurrentState) + " exit=" + std::to_string(s.dwWin32ExitCode) +
        " specific=" + std::to_string(s.dwServiceSpecificExitCode) + " checkpoint=" + std::to_string(s.dwCheckPoint) +
        " hint=" + std::to_string(s.dwWaitHint) + " accepted=" + accepted + "\n");
}

int Run(int argc, wchar_t** argv) {
    const std::wstring command = argv[1];
    DWORD number = 0;
    DWORD timeoutMs = 0;
    if (command == L"pipe" && argc == 4) {
        // Plays a pipe client such as the power-manager service: connects to \\.\pipe\NAME
        // (waiting while it is busy), sends TEXT as UTF-16LE without terminator, prints the answer.
        const std::wstring path = std::wstring(L"\\\\.\\pipe\\") + argv[2];
        standin::Handle pipe;
        for (int attempt = 0; attempt < 100 && !pipe; ++attempt) {
            pipe = standin::Handle(
                CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (!pipe) Sleep(100);
        }
        if (!pipe) return Fail("CreateFileW");
        const DWORD size = static_cast<DWORD>(wcslen(argv[3]) * sizeof(wchar_t));
        DWORD done = 0;
        if (!WriteFile(pipe.get(), argv[3], size, &done, nullptr) || done != size) return Fail("WriteFile");
        wchar_t answer[256] = {};
        if (!ReadFile(pipe.get(), answer, sizeof(answer) - sizeof(wchar_t), &done, nullptr)) return Fail("ReadFile");
        answer[done / sizeof(wchar_t)] = L'\0';
        Out(Utf8(answer) + "\n");
        return 0;
    }
    const bool control = command == L"control" && argc == 4 && ParseNumber(argv[3], number);
    const bool waiting = command == L"wait" && argc == 5 && ParseNumber(argv[3], number) && ParseNumber(argv[4], timeoutMs);
    if (!control && !waiting && !((command == L"query" || command == L"config") && argc == 3)) {
        standin::WriteStd(STD_ERROR_HANDLE, "usage: svcctl control NAME CODE | query NAME | wait NAME STATE TIMEOUT_MS"
                                            " | config NAME | pipe NAME TEXT\n");
        return ERROR_INVALID_PARAMETER;
    }
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return Fail("OpenSCManagerW");
    ScHandle service(OpenServiceW(manager.get(), argv[2],
                                  SERVICE_USER_DEFINED_CONTROL | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                                      SERVICE_INTERROGATE | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!service) return Fail("OpenServiceW");
    if (control) {
        SERVICE_STATUS status{};
        if (!ControlService(service.get(), number, &status)) return Fail("ControlService");
        PrintStatus(status);
        return 0;
    }
    if (command == L"config") {
        // Size first, then fetch: the strings live inside the same buffer. The sizing call always
        // fails; only ERROR_INSUFFICIENT_BUFFER means "go ahead".
        DWORD needed = 0;
        QueryServiceConfigW(service.get(), nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (needed == 0 || !QueryServiceConfigW(service.get(), config, needed, &needed)) return Fail("QueryServiceConfigW");
        QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
        std::vector<BYTE> description(needed);
        if (needed == 0 || !QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, description.data(), needed,
                                                 &needed)) {
            return Fail("QueryServiceConfig2W");
        }
        Out("type=" + std::to_string(config->dwServiceType) + "\nstart=" + std::to_string(config->dwStartType) +
            "\nerror=" + std::to_string(config->dwErrorControl) + "\naccount=" + Utf8(config->lpServiceStartName) +
            "\nbinary=" + Utf8(config->lpBinaryPathName) + "\ndisplay=" + Utf8(config->lpDisplayName) +
            "\ndescription=" + Utf8(reinterpret_cast<SERVICE_DESCRIPTIONW*>(description.data())->lpDescription) + "\n");
        return 0;
    }
    // query, or wait until the state is `number` for at most `timeoutMs`.
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                  sizeof(status), &needed)) {
            return Fail("QueryServiceStatusEx");
        }
        if (!waiting || status.dwCurrentState == number) {
            SERVICE_STATUS plain{};
            std::memcpy(&plain, &status, sizeof plain);  // the same leading fields
            PrintStatus(plain);
            return 0;
        }
        if (GetTickCount64() >= deadline) {
            standin::WriteStd(STD_ERROR_HANDLE, "svcctl: timed out; last state=" + std::to_string(status.dwCurrentState) + "\n");
            return 1;
        }
        Sleep(50);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return argc < 3 ? ERROR_INVALID_PARAMETER : Run(argc, argv); }
