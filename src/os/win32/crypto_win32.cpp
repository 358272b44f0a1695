// CryptoAPI, BCrypt and Authenticode (Windows only). Stub until the real adapter lands.
#include "os/win32/crypto_win32.h"

namespace orv::win32 {

std::unique_ptr<os::Rc4Key> Win32Crypto::DeriveRc4Key(std::span<const std::uint8_t>, os::KeyStep& failed,
                                                       os::OsError& error) {
  failed = os::KeyStep::Provider;
  error = os::kErrorNotSupported;
  return nullptr;
}
bool Win32Crypto::Sha256(std::span<const std::uint8_t>, std::array<std::uint8_t, 32>&) { return false; }
bool Win32Crypto::ReadSignerNames(std::string_view, os::SignerNames&, os::OsError& error) {
  error = os::kErrorNotSupported;
  return false;
}
bool Win32Crypto::IsSignatureTrusted(std::string_view, os::OsError& error) {
  error = os::kErrorNotSupported;
  return false;
}

}  // namespace orv::win32
