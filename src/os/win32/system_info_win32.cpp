#include "os/win32/system_info_win32.h"

#include <vector>

#include "os/win32/windows_api.h"
// <sensapi.h> needs the types of <windows.h>.
#include <sensapi.h>
#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {

std::string Win32SystemInfo::ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  // A path longer than the buffer comes back cut: grow until it fits.
  while (buffer.size() <= 32768) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return Narrow(std::wstring_view(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

std::string Win32SystemInfo::SystemDirectory() {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return Narrow(std::wstring_view(folder, length));
}

std::string Win32SystemInfo::ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = static_cast<DWORD>(std::size(name));
  if (!::GetComputerNameW(name, &length)) return {};
  return Narrow(std::wstring_view(name, length));
}

namespace {

// A module loaded only to read its message table.
struct DataModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::FreeLibrary(h); }
};

// FormatMessageW's text for `code`, from `module`'s table first when one is given, without
// its trailing line end.
std::string FormattedMessage(HMODULE module, os::OsError code) {
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (module != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(flags, module, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return {};
  std::wstring_view view(text, length);
  while (!view.empty() && (view.back() == L'\n' || view.back() == L'\r')) view.remove_suffix(1);
  std::string result = Narrow(view);
  ::LocalFree(text);
  return result;
}

}  // namespace

std::string Win32SystemInfo::ErrorText(os::OsError code) { return FormattedMessage(nullptr, code); }

std::string Win32SystemInfo::ModuleErrorText(std::string_view module, os::OsError code) {
  const std::wstring name = Wide(module);
  HMODULE loaded = ::GetModuleHandleW(name.c_str());
  UniqueHandle<DataModuleTraits> owned;
  if (loaded == nullptr) {
    // Only its resources are read: no code of the module runs.
    owned.reset(::LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    loaded = owned.get();
  }
  // Without the module (or without a text in it) the system's table still explains the code.
  return FormattedMessage(loaded, code);
}

std::string Win32SystemInfo::AnsiToUtf8(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > 0x7FFFFFFF) return {};
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  const int size = static_cast<int>(bytes.size());
  const int units = ::MultiByteToWideChar(CP_ACP, 0, text, size, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, size, wide.data(), units);
  return Narrow(wide);
}

std::vector<std::uint8_t> Win32SystemInfo::Utf8ToAnsi(std::string_view text) {
  const std::wstring wide = Wide(text);
  if (wide.empty() || wide.size() > 0x7FFFFFFF) return {};
  const int units = static_cast<int>(wide.size());
  const int size = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), units, reinterpret_cast<char*>(bytes.data()), size,
                        nullptr, nullptr);
  return bytes;
}

bool Win32SystemInfo::Utf8ToAnsiExact(std::string_view text, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  const std::wstring wide = Wide(text);
  if (wide.empty()) return true;
  if (wide.size() > 0x7FFFFFFF) return false;
  // A UTF-8 system code page holds every character, and takes neither flag nor default question.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* const askDefault = utf8 ? nullptr : &usedDefault;
  const int units = static_cast<int>(wide.size());
  const int size = ::WideCharToMultiByte(CP_ACP, flags, wide.data(), units, nullptr, 0, nullptr, askDefault);
  if (size <= 0 || usedDefault) return false;
  bytes.resize(static_cast<std::size_t>(size));
  if (::WideCharToMultiByte(CP_ACP, flags, wide.data(), units, reinterpret_cast<char*>(bytes.data()), size,
                            nullptr, askDefault) != size ||
      usedDefault) {
    bytes.clear();
    return false;
  }
  return true;
}

bool Win32SystemInfo::IsNetworkAlive() {
  DWORD flags = 0;
  return ::IsNetworkAlive(&flags) != FALSE;
}

}  // namespace orv::win32
