// CCryptString: the stored proxy password and the code signature of a downloaded file.
//
// The settings program stores the proxy password RC4-encrypted with a key both programs derive
// from a built-in pass phrase; every operation acquires and releases its own resources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "os/os_ports.h"

namespace orv {

class CCryptString {
 public:
  // DecryptRegistryValue results.
  static constexpr int kDecrypted = 0;
  static constexpr int kNoProvider = 1;
  static constexpr int kNoHash = 2;
  static constexpr int kPassPhraseNotHashed = 3;
  static constexpr int kNoKey = 4;
  static constexpr int kValueUnreadable = 5;
  static constexpr int kDecryptionFailed = 6;
  // The settings program's value is read through a buffer of this size; a longer one is not its.
  static constexpr std::size_t kMaxStoredBytes = 1024;

  explicit CCryptString(const os::OsPorts& os) : os_(os) {}
  virtual ~CCryptString() = default;

  // Decrypts the binary value `valueName` of HKEY_LOCAL_MACHINE\`keyPath` into `out` (text in
  // the ANSI code page, as UTF-8). `out` is set only on success (0).
  int DecryptRegistryValue(std::string& out, std::string_view keyPath, std::string_view valueName) const;
  // The issuer and subject names of the signer of `path`'s embedded signature; both cleared
  // first. False with the system error in `error` when there is no readable signature.
  bool GetSignerNames(std::string_view path, std::string& issuer, std::string& subject,
                      os::OsError& error) const;

 private:
  os::OsPorts os_;
};

}  // namespace orv
