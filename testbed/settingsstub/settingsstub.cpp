// Stand-in settings program, for the wine tier: serves the settings pipe the agent writes its
// notices and records to, and writes down every message it receives.
//
//   settingsstub.exe OUTFILE
//
// Serves "\\.\pipe\tavoleniotsvc\Reqeust", one client after the other on one pipe instance.
// A message is everything a client writes until it closes its end; each one is appended to
// OUTFILE as a line "<byte count> <lower-case hex>" and flushed. OUTFILE is created empty once
// the pipe exists: a test waits for it before starting the agent. The program ends with 0 when
// OUTFILE + ".stop" appears, checked at least every 100 ms, or when it is killed. Exit 1: wrong
// command line; 2: the pipe could not be created (another server holds the name); 3: OUTFILE
// could not be written.
#include "../common/standin.h"

namespace {

constexpr DWORD kSliceMs = 100;
constexpr size_t kMaxMessageBytes = 1024 * 1024;

bool StopRequested(const std::wstring& stopFile) { return standin::IsFile(stopFile); }

// Waits for an overlapped operation in slices; false when the stop file appeared first (the
// operation is then cancelled and finished, so its buffer is no longer written to).
bool Finish(HANDLE pipe, OVERLAPPED& overlapped, const std::wstring& stopFile, DWORD& transferred,
            DWORD& error) {
    for (;;) {
        const DWORD waited = ::WaitForSingleObject(overlapped.hEvent, kSliceMs);
        if (waited == WAIT_OBJECT_0) break;
        if (StopRequested(stopFile)) {
            ::CancelIo(pipe);
            ::GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
            return false;
        }
    }
    error = ::GetOverlappedResult(pipe, &overlapped, &transferred, FALSE) ? ERROR_SUCCESS : ::GetLastError();
    return true;
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

enum class Outcome { kMessage, kStop };

// Reads one client's message until it closes its end.
Outcome ReadMessage(HANDLE pipe, HANDLE event, const std::wstring& stopFile, std::string& message) {
    std::vector<char> buffer(4096);
    for (;;) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        DWORD transferred = 0;
        DWORD error = ERROR_SUCCESS;
        if (!::ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &transferred, &overlapped)) {
            error = ::GetLastError();
            if (error == ERROR_IO_PENDING && !Finish(pipe, overlapped, stopFile, transferred, error)) {
                return Outcome::kStop;
            }
        } else {
            ::GetOverlappedResult(pipe, &overlapped, &transferred, FALSE);
        }
        if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) return Outcome::kMessage;  // closed
        if (message.size() + transferred > kMaxMessageBytes) return Outcome::kMessage;
        message.append(buffer.data(), transferred);
    }
}

int Serve(const std::wstring& pipeName, const std::wstring& outFile, const std::wstring& stopFile) {
    standin::Handle pipe(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                                            0, nullptr));
    if (!pipe) {
        standin::WriteStd(STD_ERROR_HANDLE, "settingsstub: CreateNamedPipeW failed: " +
                                                std::to_string(::GetLastError()) + "\r\n");
        return 2;
    }
    {
        standin::Handle out(::CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return 3;
    }
    standin::Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return 3;
    // The instance is reused for every client (disconnect, connect again), so the pipe name
    // never disappears between clients: a client that comes meanwhile finds it busy and waits.
    while (!StopRequested(stopFile)) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        DWORD error = ERROR_SUCCESS;
        if (!::ConnectNamedPipe(pipe.get(), &overlapped)) {
            error = ::GetLastError();
            if (error == ERROR_IO_PENDING) {
                DWORD unused = 0;
                if (!Finish(pipe.get(), overlapped, stopFile, unused, error)) break;
            }
            if (error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) {
                ::DisconnectNamedPipe(pipe.get());
                continue;
            }
        }
        // ERROR_NO_DATA: the client has already written and closed; what it wrote is still
        // readable, and only a client that wrote nothing at all is left unrecorded.
        std::string message;
        const Outcome outcome = ReadMessage(pipe.get(), event.get(), stopFile, message);
        ::DisconnectNamedPipe(pipe.get());
        if (outcome == Outcome::kStop) break;
        if (error == ERROR_NO_DATA && message.empty()) continue;
        if (!standin::AppendLine(outFile, std::to_string(message.size()) + " " + Hex(message))) return 3;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 || argv[1][0] == L'\0') {
        standin::WriteStd(STD_ERROR_HANDLE, "usage: settingsstub.exe OUTFILE\r\n");
        return 1;
    }
    const std::wstring outFile = argv[1];
    return Serve(L"\\\\.\\pipe\\tavoleniotsvc\\Reqeust", outFile, outFile + L".stop");
}
