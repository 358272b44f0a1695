// The system's cryptography, in memory, with toy arithmetic.
#include "fakes/fake_crypto.h"

#include <utility>

#include "platform/text_encoding.h"

namespace orv::fakes {

namespace {

// FNV-1a over the bytes, stretched to N bytes: not SHA, but it differs for every input a test
// uses, which is all the fake needs (the agent only passes bytes through the port; the real
// algorithms are checked under Wine).
template <std::size_t N>
std::array<std::uint8_t, N> ToyDigest(std::span<const std::uint8_t> data) {
  constexpr std::uint64_t kPrime = 0x100000001b3ULL;
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const auto b : data) h = (h ^ b) * kPrime;
  std::array<std::uint8_t, N> out{};
  for (std::size_t i = 0; i < N; ++i) {
    h = (h ^ i) * kPrime;
    out[i] = static_cast<std::uint8_t>(h >> 56);
  }
  return out;
}

// A stream cipher keyed like the derived key: the same call encrypts and decrypts.
void ToyCipher(std::span<const std::uint8_t> key, std::span<std::uint8_t> data) {
  std::uint64_t state = 0;
  for (const auto b : ToyDigest<8>(key)) state = (state << 8) | b;
  for (auto& byte : data) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    byte ^= static_cast<std::uint8_t>(state >> 56);
  }
}

}  // namespace

std::array<std::uint8_t, 32> FakeCrypto::Digest(std::span<const std::uint8_t> data) { return ToyDigest<32>(data); }

std::vector<std::uint8_t> FakeCrypto::Encrypt(std::string_view passPhrase, std::string_view plaintext) {
  const std::vector<std::uint8_t> phrase(passPhrase.begin(), passPhrase.end());
  std::vector<std::uint8_t> data(plaintext.begin(), plaintext.end());
  ToyCipher(ToyDigest<16>(phrase), data);
  return data;
}

class FakeCrypto::Key final : public os::Rc4Key {
 public:
  Key(FakeCrypto& owner, std::array<std::uint8_t, 16> key) : owner_(owner), key_(key) {}
  ~Key() override {
    owner_.Locked([&] { --owner_.liveKeys_; });
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  bool Decrypt(std::vector<std::uint8_t>& data, os::OsError& error) override {
    const os::OsError failure = owner_.Locked([this] { return owner_.decryptError_; });
    if (failure != 0) {
      error = failure;
      return false;
    }
    // A final block: every call starts from the fresh key, as CryptDecrypt's final call does.
    ToyCipher(key_, data);
    error = os::kSuccess;
    return true;
  }

 private:
  FakeCrypto& owner_;
  std::array<std::uint8_t, 16> key_;
};

os::OsResult<os::Rc4Key> FakeCrypto::DeriveRc4Key(std::span<const std::uint8_t> passPhrase,
                                                  os::KeyStep& failed) {
  std::lock_guard lock(mutex_);
  if (failStep_ != os::KeyStep::Done) {
    failed = failStep_;
    return failError_;
  }
  failed = os::KeyStep::Done;
  ++liveKeys_;
  ++keysMade_;
  return std::make_unique<Key>(*this, ToyDigest<16>(passPhrase));
}

bool FakeCrypto::Sha256(std::span<const std::uint8_t> data, std::array<std::uint8_t, 32>& digest) {
  digest = Digest(data);
  return true;
}

bool FakeCrypto::ReadSignerNames(std::string_view path, os::SignerNames& names, os::OsError& error) {
  std::lock_guard lock(mutex_);
  const auto it = signatures_.find(AsciiLower(path));
  if (it == signatures_.end()) {
    error = kNoMatch;
    return false;
  }
  names = it->second.names;
  error = os::kSuccess;
  return true;
}

bool FakeCrypto::VerifySignature(std::string_view path, os::SignerNames& signer, os::OsError& error) {
  std::lock_guard lock(mutex_);
  const auto it = signatures_.find(AsciiLower(path));
  error = it == signatures_.end() ? kNoSignature : it->second.trust;
  if (error != os::kSuccess) return false;
  signer = it->second.verified.value_or(it->second.names);
  return true;
}

void FakeCrypto::SetSigner(std::string_view path, os::SignerNames names, os::OsError trust) {
  std::lock_guard lock(mutex_);
  signatures_[AsciiLower(path)] = Signature{std::move(names), trust, std::nullopt};
}

void FakeCrypto::SetVerifiedSigner(std::string_view path, os::SignerNames names) {
  std::lock_guard lock(mutex_);
  signatures_[AsciiLower(path)].verified = std::move(names);
}

void FakeCrypto::FailKeyAt(os::KeyStep step, os::OsError error) {
  std::lock_guard lock(mutex_);
  failStep_ = step;
  failError_ = error;
}

}  // namespace orv::fakes
