// The system's cryptography: the RC4 decryption of stored settings, SHA-256, and the code
// signature of a file (who signed it and whether the system trusts that signature).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"
#include "os/os_result.h"

namespace orv::os {

// The step at which making an RC4 key from a pass phrase failed.
enum class KeyStep : std::uint8_t { Done, Provider, Hash, HashData, DeriveKey };

class Rc4Key {
 public:
  virtual ~Rc4Key() = default;
  // Decrypts `data` in place as the final block; false with `error` on failure.
  virtual bool Decrypt(std::vector<std::uint8_t>& data, OsError& error) = 0;
};

struct SignerNames {
  std::string issuer;   // simple display names; empty when unreadable
  std::string subject;
};

class Crypto {
 public:
  virtual ~Crypto() = default;
  // An RC4 key of 128 bits derived from the SHA-1 of `passPhrase` (the system's enhanced RSA
  // provider); on failure the system error, with the failed step in `failed`.
  virtual OsResult<Rc4Key> DeriveRc4Key(std::span<const std::uint8_t> passPhrase,
                                        KeyStep& failed) = 0;
  // SHA-256 of `data`; false on any failure of the provider or the hash.
  virtual bool Sha256(std::span<const std::uint8_t> data, std::array<std::uint8_t, 32>& digest) = 0;
  // The names of the signer certificate of the file's embedded Authenticode signature; false
  // with `error` when the file has none or it cannot be read.
  virtual bool ReadSignerNames(std::string_view path, SignerNames& names, OsError& error) = 0;
  // True when the file's embedded signature is valid, chains to a root the system trusts and
  // no certificate of the chain is revoked (no user interface), with `signer` naming the signer
  // that this verification accepted; false with `error` otherwise.
  virtual bool VerifySignature(std::string_view path, SignerNames& signer, OsError& error) = 0;
};

}  // namespace orv::os
