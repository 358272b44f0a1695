// Small Win32 helpers shared by the stand-in programs of the wine tier (the uploader, the
// unzip tool, the installer and the settings program).
//
// The stand-ins play programs from outside the agent, so they deliberately share no code with
// it: a fault in the agent's own Base64, JSON or pipe code must not be mirrored here and pass.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace standin {

// Owns a kernel handle (file, event, pipe); INVALID_HANDLE_VALUE and null both mean none.
struct HandleCloser {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
struct Handle : std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser> {
    Handle() = default;
    explicit Handle(HANDLE h) : unique_ptr(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
};

inline std::string ToUtf8(std::wstring_view text) {
    const int wideLen = static_cast<int>(text.size());
    std::string out(static_cast<size_t>(wideLen) * 3, '\0');
    out.resize(static_cast<size_t>(std::max(0, ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLen, out.data(),
                                                                     static_cast<int>(out.size()), nullptr, nullptr))));
    return out;
}

// The folder of this program's executable, with a trailing backslash.
inline std::wstring ModuleFolder() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

inline bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The whole file; nullopt when it cannot be opened or read, or is larger than maxBytes.
inline std::optional<std::string> ReadWholeFile(const std::wstring& path, DWORD maxBytes) {
    const Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > maxBytes) return std::nullopt;
    std::string data(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!::ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr)) return std::nullopt;
    data.resize(read);
    return data;
}

inline bool WriteAll(HANDLE file, std::string_view data) {
    DWORD written = 0;
    return ::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
}

// Appends one line (CR LF added) and flushes, so a test reading the file right after this
// program ends, or while it still runs, sees the whole line.
inline bool AppendLine(const std::wstring& path, std::string_view line) {
    const Handle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && WriteAll(file.get(), std::string(line) + "\r\n") && ::FlushFileBuffers(file.get());
}

// Raw bytes to stdout or stderr: no CRT text-mode translation.
inline void WriteStd(DWORD which, std::string_view text) { (void)WriteAll(::GetStdHandle(which), text); }

}  // namespace standin
