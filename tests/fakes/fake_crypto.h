// The system's cryptography, in memory: a toy digest and a toy stream cipher keyed by a digest
// of the pass phrase stand in for SHA-256 and CryptDeriveKey's RC4 (the agent only moves bytes
// through the port; the real algorithms are checked under Wine). Code signatures are a table
// the test fills: path -> signer names and the system's trust answer.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "os/crypto.h"

namespace orv::fakes {

class FakeCrypto final : public os::Crypto {
 public:
  // What Windows answers for a file without an embedded signature.
  static constexpr os::OsError kNoMatch = 0x80092009;         // CRYPT_E_NO_MATCH (CryptQueryObject)
  static constexpr os::OsError kNoSignature = 0x800B0100;     // TRUST_E_NOSIGNATURE (WinVerifyTrust)
  static constexpr os::OsError kUntrustedRoot = 0x800B0109;   // CERT_E_UNTRUSTEDROOT

  os::OsResult<os::Rc4Key> DeriveRc4Key(std::span<const std::uint8_t> passPhrase,
                                        os::KeyStep& failed) override;
  bool Sha256(std::span<const std::uint8_t> data, std::array<std::uint8_t, 32>& digest) override;
  bool ReadSignerNames(std::string_view path, os::SignerNames& names, os::OsError& error) override;
  bool VerifySignature(std::string_view path, os::SignerNames& signer, os::OsError& error) override;

  // What Sha256 answers for `data`.
  static std::array<std::uint8_t, 32> Digest(std::span<const std::uint8_t> data);
  // What the settings program would store: `plaintext` under the key derived from `passPhrase`.
  static std::vector<std::uint8_t> Encrypt(std::string_view passPhrase, std::string_view plaintext);

  // Test set-up. A file without an entry has no signature.
  void SetSigner(std::string_view path, os::SignerNames names, os::OsError trust = os::kSuccess);
  // The verification accepts a signer other than the one a parse of the file names (a file
  // replaced between the two reads, or a parse that picks an unverified signer block).
  void SetVerifiedSigner(std::string_view path, os::SignerNames names);
  // Derivation fails at `step` with `error` (KeyStep::Done: it does not fail).
  void FailKeyAt(os::KeyStep step, os::OsError error = 0x80090016 /* NTE_BAD_KEYSET */);
  void FailDecrypt(os::OsError error) { Locked([&] { decryptError_ = error; }); }

  // Keys made and not yet released: every operation must release what it acquired.
  int LiveKeys() const { return Locked([this] { return liveKeys_; }); }
  int KeysMade() const { return Locked([this] { return keysMade_; }); }

 private:
  class Key;
  template <typename F>
  std::invoke_result_t<F> Locked(F&& f) const {
    std::lock_guard lock(mutex_);
    return f();
  }

  mutable std::mutex mutex_;
  os::KeyStep failStep_ = os::KeyStep::Done;
  os::OsError failError_ = 0;
  os::OsError decryptError_ = 0;
  int liveKeys_ = 0;
  int keysMade_ = 0;
  struct Signature {
    os::SignerNames names;
    os::OsError trust = 0;
    std::optional<os::SignerNames> verified;  // unset: the signer of `names`
  };
  std::map<std::string, Signature> signatures_;  // by lower-cased path, as Windows compares paths
};

}  // namespace orv::fakes
