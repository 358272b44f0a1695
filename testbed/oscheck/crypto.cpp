// oscheck crypto COMMAND ...: the cryptography adapter through the agent's own code, for the wine
// tier. One line of tab-separated fields per answer on stdout, texts as UTF-8:
//   sha256 HEX             -> "sha256" TAB <0|1> TAB <64 lower-case hex digits>, of the bytes
//                             HEX spells ("-" for none: arguments pass through code pages)
//   decrypt KEY VALUE      -> "decrypt" TAB <the ANSI code page> TAB <CCryptString status> TAB <text>
//                             (HKLM\KEY, value VALUE)
//   signature PATH         -> "signature" TAB <names read 0|1> TAB <error> TAB <issuer> TAB <subject>
//                             TAB <trusted 0|1> TAB <error> TAB <issuer> TAB <subject>
//                             (the embedded signer's names, then the trust answer with the names of
//                             the signer the verification accepted)
//   containers             -> "acquire" TAB <attempt> TAB <0|1> TAB <error>: the enhanced
//                             provider's default key container deleted, the default asked for,
//                             then the adapter's key
//   private DIR            -> "private" TAB <error> TAB <owner: system|administrators|self|other>
//                             TAB <folder SDDL> TAB <removal error>: the update's private folder
//                             made, read back and removed through the file-system adapter's hold
// Errors as 0x%08X. Exit status 2 for an unknown command or a wrong argument count.
#include <array>
#include <string>
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

// The default container is the settings program's choice and what a service account may lack:
// with none there, the adapter must still derive a key.
void ContainerAttempts() {
  for (const auto& [label, flags] : {std::pair{"deletekeyset", DWORD{CRYPT_DELETEKEYSET}}, std::pair{"default", DWORD{0}}}) {
    HCRYPTPROV provider = 0;
    const bool ok = ::CryptAcquireContextW(&provider, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, flags) != 0;
    Print("acquire", label, ok, Hex(ok ? 0 : ::GetLastError()));
    // A deleted key set hands back no handle to release.
    if (ok && provider != 0 && flags == 0) ::CryptReleaseContext(provider, 0);
  }
  os::KeyStep failed = os::KeyStep::Done;
  const std::uint8_t phrase[] = {'x'};
  const auto key = win32::Win32Crypto().DeriveRc4Key(phrase, failed);
  Print("acquire", "adapter", static_cast<bool>(key), Hex(key.error()));
}

// The update's private folder, as the system reads it back.
void PrivateFolder(win32::Win32Ports& ports, const std::string& folder) {
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
  auto held = ports.files.HoldPath(folder);
  static constexpr const char* kOwners[] = {"system", "administrators", "self", "other", "none"};
  const auto kind = held ? static_cast<std::size_t>(held->Owner()) : 4;
  Print("private", Hex(made), kOwners[kind], sddl,
        Hex(held ? held->Remove() : held.error()));
}

}  // namespace

int CryptoCheck(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  const auto arg = [argv](int i) { return win32::Narrow(argv[i]); };
  win32::Win32Ports ports;
  if (command == L"sha256" && argc == 3) {
    std::vector<std::uint8_t> data;
    const std::string hexText = arg(2) == "-" ? std::string() : arg(2);
    for (std::size_t i = 0; i + 1 < hexText.size(); i += 2) {
      data.push_back(static_cast<std::uint8_t>(std::stoul(hexText.substr(i, 2), nullptr, 16)));
    }
    std::array<std::uint8_t, 32> digest{};
    const bool ok = ports.crypto.Sha256(data, digest);
    std::string hex;
    for (const auto b : digest) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0x0F]};
    Print("sha256", ok, hex);
  } else if (command == L"decrypt" && argc == 4) {
    std::string text;
    const int status = CCryptString(ports.Ports()).DecryptRegistryValue(text, arg(2), arg(3));
    Print("decrypt", ::GetACP(), status, text);
  } else if (command == L"signature" && argc == 3) {
    os::SignerNames embedded, verified;
    os::OsError error = 0, trustError = 0;
    const bool read = CCryptString(ports.Ports()).GetSignerNames(arg(2), embedded.issuer, embedded.subject, error);
    const bool trusted = ports.crypto.VerifySignature(arg(2), verified, trustError);
    Print("signature", read, Hex(error), embedded.issuer, embedded.subject, trusted, Hex(trustError), verified.issuer,
          verified.subject);
  } else if (command == L"private" && argc == 3) {
    PrivateFolder(ports, arg(2));
  } else if (command == L"containers" && argc == 2) {
    ContainerAttempts();
  } else {
    std::fprintf(stderr, "oscheck crypto: unknown command or wrong arguments\n");
    return 2;
  }
  return 0;
}
