// CryptoAPI, BCrypt and Authenticode (Windows only).
#pragma once

#include "os/crypto.h"

namespace orv::win32 {

class Win32Crypto final : public os::Crypto {
 public:
  os::OsResult<os::Rc4Key> DeriveRc4Key(std::span<const std::uint8_t> passPhrase,
                                        os::KeyStep& failed) override;
  bool Sha256(std::span<const std::uint8_t> data, std::array<std::uint8_t, 32>& digest) override;
  bool ReadSignerNames(std::string_view path, os::SignerNames& names, os::OsError& error) override;
  bool VerifySignature(std::string_view path, os::SignerNames& signer, os::OsError& error) override;
};

}  // namespace orv::win32
