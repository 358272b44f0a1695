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

#include <mutex>
#include <thread>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 || argv[1][0] == L'\0') return 1;
    const std::wstring outFile = argv[1];
    const standin::Handle pipe(::CreateNamedPipeW(
        L"\\\\.\\pipe\\tavoleniotsvc\\Reqeust", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
        4096, 4096, 0, nullptr));
    if (!pipe) return 2;
    if (!standin::Handle(::CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))) {
        return 3;
    }
    // The blocking pipe calls are ended by ending the process; never halfway through a line.
    static std::mutex writing;
    std::thread([stopFile = outFile + L".stop"] {
        while (!standin::IsFile(stopFile)) ::Sleep(100);
        writing.lock();
        ::ExitProcess(0);
    }).detach();
    // The instance is reused for every client (disconnect, connect again), so the pipe name
    // never disappears between clients: a client that comes meanwhile finds it busy and waits.
    for (;;) {
        const DWORD error = ::ConnectNamedPipe(pipe.get(), nullptr) ? ERROR_SUCCESS : ::GetLastError();
        std::string message;
        char buffer[4096];
        DWORD got = 0;
        // ERROR_NO_DATA: the client has already written and closed; what it wrote is still
        // readable, and only a client that wrote nothing at all is left unrecorded.
        if (error == ERROR_SUCCESS || error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
            while (message.size() < 1024 * 1024 &&
                   (::ReadFile(pipe.get(), buffer, sizeof buffer, &got, nullptr) || ::GetLastError() == ERROR_MORE_DATA)) {
                message.append(buffer, got);
            }
        }
        ::DisconnectNamedPipe(pipe.get());
        if (message.empty() && error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED) continue;
        std::string line = std::to_string(message.size()) + " ";
        for (const char c : message) line += {"0123456789abcdef"[static_cast<unsigned char>(c) >> 4], "0123456789abcdef"[c & 0x0F]};
        const std::lock_guard lock(writing);
        if (!standin::AppendLine(outFile, line)) return 3;
    }
}
