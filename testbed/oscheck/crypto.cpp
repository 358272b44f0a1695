// oscheck crypto COMMAND ...: the cryptography adapter through the agent's own code, for the wine
// tier. One line of tab-separated fields per answer on stdout, texts as UTF-8 with backslash,
// tab, CR and LF escaped:
//   sha256 HEX             -> "sha256" TAB <0|1> TAB <64 lower-case hex digits>, of the bytes
//                             HEX spells ("-" for none: arguments pass through code pages)
//   decrypt KEY VALUE      -> "decrypt" TAB <the ANSI code page> TAB <CCryptString status> TAB <text>
//                             (HKLM\KEY, value VALUE)
//   signature PATH         -> "signature" TAB <names read 0|1> TAB <error as 0x%08X> TAB <issuer> TAB <subject>
//                             TAB <trusted 0|1> TAB <error as 0x%08X> TAB <issuer> TAB <subject>
//                             (the embedded signer's names, then the trust answer with the names of
//                             the signer the verification accepted)
//   containers             -> "acquire" TAB <attempt> TAB <0|1> TAB <error as 0x%08X>: the enhanced
//                             provider's default key container deleted, the default asked for,
//                             then the adapter's key
//   service OUT            -> runs as a service: writes what `containers` prints into OUT, stops
//   private DIR            -> "private" TAB <error as 0x%08X> TAB <owner: system|administrators|self|other>
//                             TAB <folder SDDL> TAB <removal error>: the update's private folder
//                             made, read back and removed through the file-system adapter's hold
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

std::string Hex32(os::OsError error) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(error));
  return text;
}

// The default container is the settings program's choice and what a service account may lack:
// with none there, the adapter must still derive a key.
std::string ContainerAttempts() {
  std::string lines;
  const auto attempt = [&lines](const char* label, DWORD flags) {
    HCRYPTPROV provider = 0;
    const bool ok = ::CryptAcquireContextW(&provider, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, flags) != 0;
    const DWORD error = ok ? 0 : ::GetLastError();
    // A deleted key set hands back no handle to release.
    if (ok && provider != 0 && (flags & CRYPT_DELETEKEYSET) == 0) ::CryptReleaseContext(provider, 0);
    lines += std::string("acquire\t") + label + "\t" + (ok ? "1\t" : "0\t") + Hex32(error) + "\n";
  };
  attempt("deletekeyset", CRYPT_DELETEKEYSET);
  attempt("default", 0);
  os::KeyStep failed = os::KeyStep::Done;
  win32::Win32Crypto crypto;
  const std::uint8_t phrase[] = {'x'};
  const auto key = crypto.DeriveRc4Key(phrase, failed);
  return lines + "acquire\tadapter\t" + (key ? "1\t" : "0\t") + Hex32(key.error()) + "\n";
}

// The update's private folder, as the system reads it back.
std::string PrivateFolder(win32::Win32Ports& ports, const std::string& folder) {
  const os::OsError made = ports.files.MakePrivateDirectory(folder);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  constexpr SECURITY_INFORMATION kParts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  wchar_t* text = nullptr;
  std::string sddl = "unreadable";
  if (::GetNamedSecurityInfoW(win32::Wide(folder).c_str(), SE_FILE_OBJECT, kParts, nullptr, nullptr, nullptr, nullptr,
                              &descriptor) == ERROR_SUCCESS &&
      ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, kParts, &text, nullptr)) {
    sddl = win32::Narrow(text);
    ::LocalFree(text);
  }
  if (descriptor != nullptr) ::LocalFree(descriptor);
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
  return "private\t" + Hex32(made) + "\t" + owner + "\t" + Escaped(sddl) + "\t" + Hex32(removed) + "\n";
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
  std::string line;
  if (command == L"sha256" && argc == 3) {
    std::vector<std::uint8_t> data;
    const std::string hexText = arg(2) == "-" ? std::string() : arg(2);
    for (std::size_t i = 0; i + 1 < hexText.size(); i += 2) {
      data.push_back(static_cast<std::uint8_t>(std::stoul(hexText.substr(i, 2), nullptr, 16)));
    }
    std::array<std::uint8_t, 32> digest{};
    line = std::string("sha256\t") + (ports.crypto.Sha256(data, digest) ? "1\t" : "0\t");
    for (const auto b : digest) line += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0x0F]};
    line += "\n";
  } else if (command == L"decrypt" && argc == 4) {
    CCryptString crypt(ports.Ports());
    std::string text;
    const int status = crypt.DecryptRegistryValue(text, arg(2), arg(3));
    line = "decrypt\t" + std::to_string(::GetACP()) + "\t" + std::to_string(status) + "\t" + Escaped(text) + "\n";
  } else if (command == L"signature" && argc == 3) {
    CCryptString crypt(ports.Ports());
    os::SignerNames embedded;
    os::OsError error = 0;
    const bool read = crypt.GetSignerNames(arg(2), embedded.issuer, embedded.subject, error);
    line = std::string("signature\t") + (read ? "1\t" : "0\t") + Hex32(error) + "\t" + Escaped(embedded.issuer) +
           "\t" + Escaped(embedded.subject);
    os::SignerNames verified;
    os::OsError trustError = 0;
    const bool trusted = ports.crypto.VerifySignature(arg(2), verified, trustError);
    line += std::string(trusted ? "\t1\t" : "\t0\t") + Hex32(trustError) + "\t" + Escaped(verified.issuer) + "\t" +
            Escaped(verified.subject) + "\n";
  } else if (command == L"private" && argc == 3) {
    line = PrivateFolder(ports, arg(2));
  } else if (command == L"containers" && argc == 2) {
    line = ContainerAttempts();
  } else if (command == L"service" && argc == 3) {
    serviceOutput = argv[2];
    wchar_t name[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
  } else {
    std::fprintf(stderr, "oscheck crypto: unknown command or wrong arguments\n");
    return 2;
  }
  std::fputs(line.c_str(), stdout);
  return 0;
}
