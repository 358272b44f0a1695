// ORVZIP.exe stand-in: the unzip tool the agent runs on a downloaded update, for the wine tier.
//
//   "<agent folder>ORVZIP.exe" "<zip file>" "<out folder>"
//
// Extracts the entries of a ZIP archive stored uncompressed (what Python's zipfile writes with
// ZIP_STORED), walking its local headers and creating folders as the entry names ask. A name
// that could reach outside the out folder (a ".." segment, a leading slash, a ':') refuses the
// whole archive before anything is written.
//
// Exit codes: 0 extracted; 1 wrong command line; 2 archive unreadable; 3 not an archive of
// stored entries; 4 an unsafe entry name; 5 a folder or file could not be written.
#include "../common/standin.h"

#include <cstdint>
#include <vector>

namespace {

struct Entry {
    std::wstring name;  // with backslashes
    std::string_view data;
};

std::uint32_t Read(const std::string& data, size_t at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[at + static_cast<size_t>(i)]);
    return value;
}

int ReadEntries(const std::string& zip, std::vector<Entry>& entries) {
    size_t at = 0;
    while (zip.size() - at >= 30 && Read(zip, at, 4) == 0x04034b50u) {
        const size_t size = Read(zip, at + 18, 4);
        const int nameLength = static_cast<int>(Read(zip, at + 26, 2));
        const size_t dataAt = at + 30 + static_cast<size_t>(nameLength) + Read(zip, at + 28, 2);
        if (Read(zip, at + 8, 2) != 0 || dataAt > zip.size() || zip.size() - dataAt < size) return 3;
        // Names are UTF-8: one that is not is refused like an unsafe one.
        Entry entry{std::wstring(static_cast<size_t>(nameLength), L'\0'), std::string_view(zip).substr(dataAt, size)};
        const int wide = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, zip.data() + at + 30, nameLength,
                                               entry.name.data(), nameLength);
        if (wide <= 0) return 4;
        entry.name.resize(static_cast<size_t>(wide));
        for (wchar_t& c : entry.name) c = c == L'/' ? L'\\' : c;
        if (entry.name.front() == L'\\' || entry.name.find(L':') != std::wstring::npos ||
            (L"\\" + entry.name + L"\\").find(L"\\..\\") != std::wstring::npos) {
            return 4;
        }
        entries.push_back(entry);
        at = dataAt + size;
    }
    return entries.empty() ? 3 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || argv[1][0] == L'\0' || argv[2][0] == L'\0') return 1;
    std::wstring outFolder = argv[2];
    while (!outFolder.empty() && (outFolder.back() == L'\\' || outFolder.back() == L'/')) outFolder.pop_back();
    const std::optional<std::string> zip = standin::ReadWholeFile(argv[1], 512u * 1024 * 1024);
    if (!zip) return 2;
    std::vector<Entry> entries;
    if (const int failure = ReadEntries(*zip, entries)) return failure;
    for (const Entry& entry : entries) {
        // Every folder on the way, the out folder's own parents included, may exist already.
        const std::wstring target = outFolder + L"\\" + entry.name;
        for (size_t at = target.find(L'\\', 3); at != std::wstring::npos; at = target.find(L'\\', at + 1)) {
            (void)::CreateDirectoryW(target.substr(0, at).c_str(), nullptr);
        }
        if (target.back() == L'\\') continue;
        const standin::Handle file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr,
                                                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !standin::WriteAll(file.get(), entry.data)) return 5;
    }
    return 0;
}
