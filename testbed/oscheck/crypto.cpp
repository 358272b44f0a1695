// oscheck crypto COMMAND ...: the cryptography adapter through the agent's own code, for the wine
// tier. One line of tab-separated fields per answer on stdout, texts as UTF-8 with backslash,
// tab, CR and LF escaped:
//   sha256 HEX             -> "sha256" TAB <0|1> TAB <64 lower-case hex digits>, of the bytes
//                             HEX spells ("-" for none: arguments pass through code pages)
//   decrypt KEY VALUE      -> "decrypt" TAB <CCryptString status> TAB <text> (HKLM\KEY, value VALUE)
//   signer PATH            -> "signer" TAB <0|1> TAB <error as 0x%08X> TAB <issuer> TAB <subject>
//   trust PATH             -> "trust" TAB <0|1> TAB <error as 0x%08X> TAB <issuer> TAB <subject>
//                             (the names of the signer the verification accepted)
//   acp                    -> "acp" TAB <the ANSI code page>
//   containers             -> "acquire" TAB <attempt> TAB <0|1> TAB <error as 0x%08X>, one per
//                             attempt on the enhanced provider's default key container
//   service OUT            -> runs as a service: writes what `containers` prints into OUT, stops
//   private DIR            -> "private" TAB <error as 0x%08X> TAB <owner: system|administrators|self|other>
//                             TAB <folder SDDL> TAB <SDDL of a file made in it> TAB <removal error>:
//                             the update's private folder made, read back and removed through
//                             the file-system adapter's hold
// Exit status 2 for an unknown command or a wrong argument count.
#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/win32/win32_ports.h"
#include "os/win32/windows_api.h"
#include "os/win32/wide_text.h"
#include "platform/c_crypt_string.h"
// After <windows.h>.
#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include "oscheck.h"

namespace {

using namespace orv;

unsigned long Code(os::OsError error) { return static_cast<unsigned long>(error); }

// The default container is the settings program's choice and what a service account may lack;
// each attempt is reported on its own so the first-run and later-run answers can be told apart.
std::string ContainerAttempts() {
  std::string lines;
  const auto attempt = [&lines](const char* label, DWORD flags) {
    HCRYPTPROV provider = 0;
    const bool ok = ::CryptAcquireContextW(&provider, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, flags) != 0;
    const DWORD error = ok ? 0 : ::GetLastError();
    // A deleted key set hands back no handle to release.
    if (ok && provider != 0 && (flags & CRYPT_DELETEKEYSET) == 0) ::CryptReleaseContext(provider, 0);
    char line[160];
    std::snprintf(line, sizeof line, "acquire\t%s\t%d\t0x%08lX\n", label, ok ? 1 : 0, static_cast<unsigned long>(error));
    lines += line;
  };
  attempt("default", 0);
  attempt("verifycontext", CRYPT_VERIFYCONTEXT);
  attempt("newkeyset", CRYPT_NEWKEYSET);
  attempt("default-after-newkeyset", 0);
  attempt("deletekeyset", CRYPT_DELETEKEYSET);
  attempt("default-after-delete", 0);
  // What the adapter does, from the state the probe leaves (no container).
  os::KeyStep failed = os::KeyStep::Done;
  win32::Win32Crypto crypto;
  const std::uint8_t phrase[] = {'x'};
  const auto key = crypto.DeriveRc4Key(phrase, failed);
  char line[160];
  std::snprintf(line, sizeof line, "acquire\tadapter\t%d\t0x%08lX\n", key ? 1 : 0, Code(key.error()));
  lines += line;
  return lines;
}

// --- the update's private folder, as the system reads it back ---

std::string SecurityText(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  constexpr SECURITY_INFORMATION kParts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  const DWORD error = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, kParts, nullptr, nullptr, nullptr,
                                              nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return "error " + std::to_string(error);
  wchar_t* text = nullptr;
  std::string result = "unconvertible";
  if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, kParts, &text, nullptr)) {
    result = win32::Narrow(text);
    ::LocalFree(text);
  }
  ::LocalFree(descriptor);
  return result;
}

std::string PrivateFolder(win32::Win32Ports& ports, const std::string& folder) {
  const os::OsError made = ports.files.MakePrivateDirectory(folder);
  const std::string file = folder + "\\inside.txt";
  const std::uint8_t byte[] = {'x'};
  (void)ports.files.WriteWholeFile(file, byte, os::CreateMode::NewOnly);
  const std::string folderText = SecurityText(win32::Wide(folder));
  const std::string fileText = SecurityText(win32::Wide(file));
  (void)ports.files.RemoveFile(file);
  const char* owner = "none";
  os::OsError removed = os::kSuccess;
  if (auto held = ports.files.HoldPath(folder)) {
    const os::PathOwner kind = held->Owner();
    owner = kind == os::PathOwner::System           ? "system"
            : kind == os::PathOwner::Administrators ? "administrators"
            : kind == os::PathOwner::Self           ? "self"
                                                    : "other";
    removed = held->Remove();
  } else {
    removed = held.error();
  }
  char head[64];
  std::snprintf(head, sizeof head, "private\t0x%08lX\t%s\t", Code(made), owner);
  char tail[32];
  std::snprintf(tail, sizeof tail, "\t0x%08lX\n", Code(removed));
  return head + Escaped(folderText) + "\t" + Escaped(fileText) + tail;
}

// --- running as a service: one probe, written to a file, then stopped ---
std::wstring serviceOutput;
SERVICE_STATUS_HANDLE serviceStatus = nullptr;

void ReportState(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  ::SetServiceStatus(serviceStatus, &status);
}

DWORD WINAPI ServiceHandler(DWORD, DWORD, void*, void*) { return NO_ERROR; }

void WINAPI ServiceMain(DWORD, wchar_t**) {
  serviceStatus = ::RegisterServiceCtrlHandlerExW(L"", ServiceHandler, nullptr);
  if (serviceStatus == nullptr) return;
  ReportState(SERVICE_RUNNING);
  const std::string lines = ContainerAttempts();
  if (FILE* out = ::_wfopen(serviceOutput.c_str(), L"wb")) {
    std::fwrite(lines.data(), 1, lines.size(), out);
    std::fclose(out);
  }
  ReportState(SERVICE_STOPPED);
}

}  // namespace

int CryptoCheck(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  const auto arg = [argv](int i) { return win32::Narrow(argv[i]); };
  win32::Win32Ports ports;
  if (command == L"sha256" && argc == 3) {
    std::vector<std::uint8_t> data;
    const std::string hexText = arg(2) == "-" ? std::string() : arg(2);
    for (std::size_t i = 0; i < hexText.size(); i += 2) {
      unsigned value = 0;
      if (i + 1 == hexText.size() || std::sscanf(hexText.c_str() + i, "%2x", &value) != 1) {
        std::fprintf(stderr, "oscheck crypto: not hex digits: %s\n", hexText.c_str());
        return 2;
      }
      data.push_back(static_cast<std::uint8_t>(value));
    }
    std::array<std::uint8_t, 32> digest{};
    const bool ok = ports.crypto.Sha256(data, digest);
    std::string hex;
    for (const auto b : digest) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", b);
      hex += pair;
    }
    std::printf("sha256\t%d\t%s\n", ok ? 1 : 0, hex.c_str());
    return 0;
  }
  if (command == L"decrypt" && argc == 4) {
    CCryptString crypt(ports.Ports());
    std::string text;
    const int status = crypt.DecryptRegistryValue(text, arg(2), arg(3));
    std::printf("decrypt\t%d\t%s\n", status, Escaped(text).c_str());
    return 0;
  }
  if (command == L"signer" && argc == 3) {
    CCryptString crypt(ports.Ports());
    std::string issuer;
    std::string subject;
    os::OsError error = 0;
    const bool ok = crypt.GetSignerNames(arg(2), issuer, subject, error);
    std::printf("signer\t%d\t0x%08lX\t%s\t%s\n", ok ? 1 : 0, Code(error), Escaped(issuer).c_str(),
                Escaped(subject).c_str());
    return 0;
  }
  if (command == L"trust" && argc == 3) {
    os::OsError error = 0;
    os::SignerNames signer;
    const bool ok = ports.crypto.VerifySignature(arg(2), signer, error);
    std::printf("trust\t%d\t0x%08lX\t%s\t%s\n", ok ? 1 : 0, Code(error), Escaped(signer.issuer).c_str(),
                Escaped(signer.subject).c_str());
    return 0;
  }
  if (command == L"private" && argc == 3) {
    std::fputs(PrivateFolder(ports, arg(2)).c_str(), stdout);
    return 0;
  }
  if (command == L"acp" && argc == 2) {
    std::printf("acp\t%u\n", ::GetACP());
    return 0;
  }
  if (command == L"containers" && argc == 2) {
    std::fputs(ContainerAttempts().c_str(), stdout);
    return 0;
  }
  if (command == L"service" && argc == 3) {
    serviceOutput = argv[2];
    wchar_t name[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
  }
  std::fprintf(stderr, "oscheck crypto: unknown command or wrong arguments\n");
  return 2;
}
