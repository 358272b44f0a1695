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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// Owns a kernel handle (file, event, pipe); INVALID_HANDLE_VALUE and null both mean none.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : handle_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    ~Handle() { reset(); }
    void reset() {
        if (handle_ != nullptr) ::CloseHandle(handle_);
        handle_ = nullptr;
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_ = nullptr;
};

inline std::string ToUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int wideLen = static_cast<int>(text.size());
    const int len = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLen, nullptr, 0, nullptr, nullptr);
    if (len <= 0) return {};
    std::string out(static_cast<size_t>(len), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLen, out.data(), len, nullptr, nullptr);
    return out;
}

// Text in a code page to UTF-16; nullopt when the bytes are not valid in that code page.
inline std::optional<std::wstring> FromCodePage(UINT codePage, std::string_view bytes) {
    if (bytes.empty()) return std::wstring();
    const int byteLen = static_cast<int>(bytes.size());
    const DWORD flags = MB_ERR_INVALID_CHARS;
    const int len = ::MultiByteToWideChar(codePage, flags, bytes.data(), byteLen, nullptr, 0);
    if (len <= 0) return std::nullopt;
    std::wstring out(static_cast<size_t>(len), L'\0');
    ::MultiByteToWideChar(codePage, flags, bytes.data(), byteLen, out.data(), len);
    return out;
}

// The folder of this program's executable, with a trailing backslash.
inline std::wstring ModuleFolder() {
    std::wstring path(32768, L'\0');
    const DWORD len = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(len);
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

inline std::wstring ModulePath() {
    std::wstring path(32768, L'\0');
    const DWORD len = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(len);
    return path;
}

inline bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The whole file; nullopt when it cannot be opened or read, or is larger than maxBytes.
inline std::optional<std::string> ReadWholeFile(const std::wstring& path, size_t maxBytes) {
    Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        return std::nullopt;
    }
    std::string data(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < data.size()) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        if (!::ReadFile(file.get(), data.data() + done, chunk, &read, nullptr)) return std::nullopt;
        if (read == 0) break;
        done += read;
    }
    data.resize(done);
    return data;
}

inline bool WriteAll(HANDLE file, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        if (!::WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// Appends one line (CR LF added) and flushes, so a test reading the file right after this
// program ends, or while it still runs, sees the whole line.
inline bool AppendLine(const std::wstring& path, std::string_view line) {
    Handle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string text(line);
    text += "\r\n";
    return WriteAll(file.get(), text) && ::FlushFileBuffers(file.get());
}

// Raw bytes to stdout or stderr: no CRT text-mode translation.
inline void WriteStd(DWORD which, std::string_view text) {
    const HANDLE out = ::GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    (void)WriteAll(out, text);
}

// A whole-string decimal number without sign; nullopt for anything else or above maxValue.
inline std::optional<unsigned long> ParseDecimal(std::wstring_view text, unsigned long maxValue) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    unsigned long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long long>(c - L'0');
    }
    if (value > maxValue) return std::nullopt;
    return static_cast<unsigned long>(value);
}

}  // namespace standin
