// resinfo: reads the resources of a Windows program the way Event Viewer and Explorer do,
// so the wine tier can prove that ORVSVC.exe carries its message table and version.
//
//   resinfo messages PATH ID...   prints "ID<TAB>text" for each id; exit 1 if any is missing
//   resinfo version PATH          prints the fixed file version as a.b.c.d
#include "../common/standin.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

int Messages(const wchar_t* path, int count, wchar_t** ids) {
  HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return 2;
  int missing = 0;
  for (int i = 0; i < count; ++i) {
    const DWORD id = static_cast<DWORD>(std::wcstoul(ids[i], nullptr, 0));
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, module, id, 0,
        reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message = length == 0 ? "<missing " + std::to_string(::GetLastError()) + ">"
                                      : standin::ToUtf8(std::wstring_view(text, length));
    if (length == 0) ++missing;
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    std::printf("0x%08lX\t%s\n", id, message.c_str());
  }
  ::FreeLibrary(module);
  return missing == 0 ? 0 : 1;
}

int Version(const wchar_t* path) {
  DWORD ignored = 0;
  std::vector<unsigned char> data(::GetFileVersionInfoSizeW(path, &ignored));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (data.empty() || !::GetFileVersionInfoW(path, 0, static_cast<DWORD>(data.size()), data.data()) ||
      !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) {
    return 1;
  }
  std::printf("%u.%u.%u.%u\n", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
              HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wcscmp(argv[1], L"messages") == 0) return Messages(argv[2], argc - 3, argv + 3);
  if (argc == 3 && std::wcscmp(argv[1], L"version") == 0) return Version(argv[2]);
  std::fputs("usage: resinfo messages PATH ID... | resinfo version PATH\n", stderr);
  return 2;
}
