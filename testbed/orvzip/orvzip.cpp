// ORVZIP.exe stand-in: the unzip tool the agent runs on a downloaded update, for the wine tier.
//
//   "<agent folder>ORVZIP.exe" "<zip file>" "<out folder>"
//
// Extracts a ZIP archive whose entries are stored uncompressed (what Python's zipfile writes
// with ZIP_STORED), creating folders as the entry names ask. Every entry is checked before
// anything is written, and the whole archive is refused when one entry is unsafe: a name with
// a ".." segment, an absolute or UNC path, a drive letter or any ':', a segment that Windows
// would silently change (trailing dot or space, only dots), a reserved device name or a
// character Windows does not allow in file names. So nothing is ever written outside the out
// folder. Sizes and CRC-32 are checked against the central directory.
//
// Exit codes: 0 extracted; 1 wrong command line; 2 archive unreadable; 3 not a ZIP archive
// this tool reads (compressed, encrypted, ZIP64, damaged, CRC mismatch); 4 an unsafe entry
// name; 5 a folder or file could not be written. One line on stdout says what happened.
#include "../common/standin.h"


#include <array>
#include <cstdint>
#include <cwctype>

namespace {

using standin::ToUtf8;

enum ExitCode : int {
    kExtracted = 0,
    kUsage = 1,
    kUnreadable = 2,
    kBadArchive = 3,
    kUnsafeEntry = 4,
    kWriteFailed = 5,
};

constexpr size_t kMaxArchiveBytes = 512u * 1024 * 1024;

struct Entry {
    std::wstring name;  // with backslashes, checked
    bool folder = false;
    size_t dataOffset = 0;
    size_t size = 0;
    std::uint32_t crc = 0;
};

std::uint16_t Read16(const std::string& data, size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(data[at]) |
                                      (static_cast<unsigned char>(data[at + 1]) << 8));
}

std::uint32_t Read32(const std::string& data, size_t at) {
    return static_cast<std::uint32_t>(Read16(data, at)) | (static_cast<std::uint32_t>(Read16(data, at + 2)) << 16);
}

std::uint32_t Crc32(const char* data, size_t size) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

bool IsReservedName(std::wstring_view segment) {
    std::wstring base(segment.substr(0, segment.find(L'.')));
    for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
    static constexpr std::array<const wchar_t*, 6> kNames{L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* name : kNames) {
        if (base == name) return true;
    }
    return base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT")) &&
           base[3] >= L'0' && base[3] <= L'9';
}

// Turns an entry name into a relative path below the out folder, or refuses it.
bool SafeRelativePath(const std::wstring& raw, std::wstring& path, bool& folder) {
    std::wstring name = raw;
    for (wchar_t& c : name) {
        if (c == L'/') c = L'\\';
    }
    folder = !name.empty() && name.back() == L'\\';
    if (name.empty() || name.front() == L'\\' || name.find(L':') != std::wstring::npos) return false;
    path.clear();
    size_t start = 0;
    while (start < name.size()) {
        size_t end = name.find(L'\\', start);
        if (end == std::wstring::npos) end = name.size();
        const std::wstring_view segment = std::wstring_view(name).substr(start, end - start);
        start = end + 1;
        if (segment.empty()) {
            if (end == name.size() || start == name.size()) continue;  // the folder's trailing slash
            return false;  // "a\\\\b": an empty segment is not a name
        }
        if (segment.find_first_not_of(L". ") == std::wstring_view::npos) return false;  // ".", "..", "..."
        if (segment.back() == L'.' || segment.back() == L' ') return false;
        for (wchar_t c : segment) {
            if (c < 0x20 || std::wstring_view(L"<>\"|?*").find(c) != std::wstring_view::npos) return false;
        }
        if (IsReservedName(segment)) return false;
        if (!path.empty()) path += L'\\';
        path += segment;
    }
    return !path.empty();
}

struct Failure {
    int code;
    std::string message;
};

std::optional<Failure> ReadEntries(const std::string& zip, std::vector<Entry>& entries) {
    // End of central directory: 22 bytes plus a comment of up to 65535 bytes, from the end.
    if (zip.size() < 22) return Failure{kBadArchive, "no end of central directory"};
    size_t eocd = std::string::npos;
    const size_t lowest = zip.size() > 22 + 65535 ? zip.size() - 22 - 65535 : 0;
    for (size_t at = zip.size() - 22 + 1; at-- > lowest;) {
        if (Read32(zip, at) == 0x06054b50u && at + 22 + Read16(zip, at + 20) == zip.size()) {
            eocd = at;
            break;
        }
    }
    if (eocd == std::string::npos) return Failure{kBadArchive, "no end of central directory"};
    const size_t count = Read16(zip, eocd + 10);
    const size_t directorySize = Read32(zip, eocd + 12);
    const size_t directoryOffset = Read32(zip, eocd + 16);
    if (Read16(zip, eocd + 4) != 0 || Read16(zip, eocd + 6) != 0 || Read16(zip, eocd + 8) != count) {
        return Failure{kBadArchive, "multi-part archives are not read"};
    }
    if (directoryOffset > eocd || directorySize > eocd - directoryOffset) {
        return Failure{kBadArchive, "central directory outside the archive"};
    }
    size_t at = directoryOffset;
    const size_t directoryEnd = directoryOffset + directorySize;
    for (size_t i = 0; i < count; ++i) {
        if (directoryEnd - at < 46 || Read32(zip, at) != 0x02014b50u) {
            return Failure{kBadArchive, "damaged central directory"};
        }
        const std::uint16_t flags = Read16(zip, at + 8);
        const std::uint16_t method = Read16(zip, at + 10);
        const std::uint32_t crc = Read32(zip, at + 16);
        const std::uint32_t compressed = Read32(zip, at + 20);
        const std::uint32_t size = Read32(zip, at + 24);
        const size_t nameLength = Read16(zip, at + 28);
        const size_t extraLength = Read16(zip, at + 30);
        const size_t commentLength = Read16(zip, at + 32);
        const size_t localOffset = Read32(zip, at + 42);
        if (directoryEnd - at - 46 < nameLength + extraLength + commentLength) {
            return Failure{kBadArchive, "damaged central directory"};
        }
        const std::string rawName = zip.substr(at + 46, nameLength);
        at += 46 + nameLength + extraLength + commentLength;

        if (flags & 0x0001) return Failure{kBadArchive, "encrypted entry: " + rawName};
        if (method != 0) return Failure{kBadArchive, "compressed entry (only stored entries are read): " + rawName};
        if (compressed != size || size == 0xFFFFFFFFu || localOffset == 0xFFFFFFFFu) {
            return Failure{kBadArchive, "entry sizes not readable: " + rawName};
        }
        // Names are UTF-8 when flag bit 11 says so, else code page 437 (plain ASCII either way).
        const std::optional<std::wstring> name = standin::FromCodePage((flags & 0x0800) ? CP_UTF8 : 437, rawName);
        Entry entry;
        if (!name || !SafeRelativePath(*name, entry.name, entry.folder)) {
            return Failure{kUnsafeEntry, "unsafe entry name refused: " + rawName};
        }
        if (localOffset > directoryOffset || directoryOffset - localOffset < 30 ||
            Read32(zip, localOffset) != 0x04034b50u) {
            return Failure{kBadArchive, "damaged local header: " + rawName};
        }
        const size_t dataOffset = localOffset + 30 + Read16(zip, localOffset + 26) + Read16(zip, localOffset + 28);
        if (dataOffset > directoryOffset || directoryOffset - dataOffset < size) {
            return Failure{kBadArchive, "entry data outside the archive: " + rawName};
        }
        entry.dataOffset = dataOffset;
        entry.size = size;
        entry.crc = crc;
        if (entry.folder && size != 0) return Failure{kBadArchive, "folder entry with data: " + rawName};
        if (Crc32(zip.data() + dataOffset, size) != crc) return Failure{kBadArchive, "CRC mismatch: " + rawName};
        entries.push_back(std::move(entry));
    }
    return std::nullopt;
}

// Creates `path` and the folders above it; true when it is a folder afterwards.
bool MakeFolders(const std::wstring& path) {
    if (standin::IsFolder(path)) return true;
    const size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash > 0 && path[slash - 1] != L':') {
        if (!MakeFolders(path.substr(0, slash))) return false;
    }
    return ::CreateDirectoryW(path.c_str(), nullptr) || standin::IsFolder(path);
}

int Extract(const std::wstring& zipPath, std::wstring outFolder) {
    const std::optional<std::string> zip = standin::ReadWholeFile(zipPath, kMaxArchiveBytes);
    if (!zip) {
        standin::WriteStd(STD_OUTPUT_HANDLE, "ORVZIP: cannot read " + ToUtf8(zipPath) + "\r\n");
        return kUnreadable;
    }
    std::vector<Entry> entries;
    if (const std::optional<Failure> failure = ReadEntries(*zip, entries)) {
        standin::WriteStd(STD_OUTPUT_HANDLE, "ORVZIP: " + failure->message + "\r\n");
        return failure->code;
    }
    while (!outFolder.empty() && (outFolder.back() == L'\\' || outFolder.back() == L'/')) outFolder.pop_back();
    if (outFolder.empty() || !MakeFolders(outFolder)) {
        standin::WriteStd(STD_OUTPUT_HANDLE, "ORVZIP: cannot create the out folder\r\n");
        return kWriteFailed;
    }
    for (const Entry& entry : entries) {
        const std::wstring target = outFolder + L"\\" + entry.name;
        const size_t slash = target.find_last_of(L'\\');
        if (!MakeFolders(entry.folder ? target : target.substr(0, slash))) {
            standin::WriteStd(STD_OUTPUT_HANDLE, "ORVZIP: cannot create a folder for " + ToUtf8(entry.name) + "\r\n");
            return kWriteFailed;
        }
        if (entry.folder) continue;
        standin::Handle file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !standin::WriteAll(file.get(), std::string_view(*zip).substr(entry.dataOffset, entry.size))) {
            standin::WriteStd(STD_OUTPUT_HANDLE, "ORVZIP: cannot write " + ToUtf8(entry.name) + "\r\n");
            return kWriteFailed;
        }
    }
    standin::WriteStd(STD_OUTPUT_HANDLE, "ORVZIP: " + std::to_string(entries.size()) + " entries extracted\r\n");
    return kExtracted;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || argv[1][0] == L'\0' || argv[2][0] == L'\0') {
        standin::WriteStd(STD_OUTPUT_HANDLE, "usage: ORVZIP.exe ZIPFILE OUTFOLDER\r\n");
        return kUsage;
    }
    return Extract(argv[1], argv[2]);
}
