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
        const std::uint32_t method = Read(zip, at + 8, 2);
        const size_t size = Read(zip, at + 18, 4);
        const size_t nameLength = Read(zip, at + 26, 2);
        const size_t dataAt = at + 30 + nameLength + Read(zip, at + 28, 2);
        if (method != 0 || dataAt > zip.size() || zip.size() - dataAt < size) return 3;
        const std::optional<std::wstring> name = standin::FromCodePage(CP_UTF8, zip.substr(at + 30, nameLength));
        if (!name || name->empty()) return 4;
        Entry entry{*name, std::string_view(zip).substr(dataAt, size)};
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

// Creates `path` and the folders above it; true when it is a folder afterwards.
bool MakeFolders(const std::wstring& path) {
    if (standin::IsFolder(path)) return true;
    const size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash > 0 && path[slash - 1] != L':') {
        if (!MakeFolders(path.substr(0, slash))) return false;
    }
    return ::CreateDirectoryW(path.c_str(), nullptr) || standin::IsFolder(path);
}

int Extract(const std::wstring& zipPath, const std::wstring& outFolder) {
    const std::optional<std::string> zip = standin::ReadWholeFile(zipPath, 512u * 1024 * 1024);
    if (!zip) return 2;
    std::vector<Entry> entries;
    if (const int failure = ReadEntries(*zip, entries)) return failure;
    for (const Entry& entry : entries) {
        const std::wstring target = outFolder + L"\\" + entry.name;
        const bool folder = target.back() == L'\\';
        if (!MakeFolders(target.substr(0, target.find_last_of(L'\\')))) return 5;
        if (folder) continue;
        standin::Handle file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !standin::WriteAll(file.get(), entry.data)) return 5;
    }
    standin::WriteStd(STD_OUTPUT_HANDLE, "ORVZIP: " + std::to_string(entries.size()) + " entries extracted\r\n");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || argv[1][0] == L'\0' || argv[2][0] == L'\0') {
        standin::WriteStd(STD_OUTPUT_HANDLE, "usage: ORVZIP.exe ZIPFILE OUTFOLDER\r\n");
        return 1;
    }
    std::wstring outFolder = argv[2];
    while (!outFolder.empty() && (outFolder.back() == L'\\' || outFolder.back() == L'/')) outFolder.pop_back();
    return Extract(argv[1], outFolder);
}
