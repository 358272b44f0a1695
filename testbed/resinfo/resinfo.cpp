// resinfo: reads the resources of a Windows program the way Event Viewer and Explorer do,
// so the wine tier can prove that ORVSVC.exe carries its message table and version.
//
//   resinfo messages PATH ID...   prints "ID<TAB>text" for each id; exit 1 if any is missing
//   resinfo version PATH          prints the fixed file version as a.b.c.d
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void PrintUtf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  std::fputs(utf8.c_str(), stdout);
}

int Messages(const wchar_t* path, int count, wchar_t** ids) {
  HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load: %lu\n", ::GetLastError());
    return 2;
  }
  int missing = 0;
  for (int i = 0; i < count; ++i) {
    const DWORD id = static_cast<DWORD>(std::wcstoul(ids[i], nullptr, 0));
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        module, id, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (length == 0) {
      std::printf("0x%08lX\t<missing %lu>\n", id, ::GetLastError());
      ++missing;
      continue;
    }
    std::wstring message(text, length);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) message.pop_back();
    std::printf("0x%08lX\t", id);
    PrintUtf8(message + L"\n");
  }
  ::FreeLibrary(module);
  return missing == 0 ? 0 : 1;
}

int Version(const wchar_t* path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return 1;
  std::vector<unsigned char> data(size);
  if (!::GetFileVersionInfoW(path, 0, size, data.data())) return 1;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) {
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
