// The system's cryptography, in memory, computing for real (test-only implementations).
#include "fakes/fake_crypto.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <utility>

namespace orv::fakes {

namespace {

std::string LowerPath(std::string_view path) {
  std::string lower(path);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return lower;
}

// The message padded to whole 64-byte blocks with its bit length, big-endian, at the end: the
// same framing for SHA-1 and SHA-256.
std::vector<std::uint8_t> PaddedBlocks(std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> message(data.begin(), data.end());
  const std::uint64_t bits = std::uint64_t{data.size()} * 8;
  message.push_back(0x80);
  while (message.size() % 64 != 56) message.push_back(0);
  for (int shift = 56; shift >= 0; shift -= 8) message.push_back(static_cast<std::uint8_t>(bits >> shift));
  return message;
}

std::uint32_t BigEndianWord(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

template <std::size_t N>
void StoreBigEndian(const std::uint32_t* words, std::array<std::uint8_t, N>& out) {
  for (std::size_t i = 0; i < N; ++i) {
    out[i] = static_cast<std::uint8_t>(words[i / 4] >> (24 - 8 * (i % 4)));
  }
}

}  // namespace

std::array<std::uint8_t, 20> FakeCrypto::ComputeSha1(std::span<const std::uint8_t> data) {
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const std::vector<std::uint8_t> message = PaddedBlocks(data);
  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::uint32_t w[80];
    for (std::size_t t = 0; t < 16; ++t) w[t] = BigEndianWord(&message[block + 4 * t]);
    for (std::size_t t = 16; t < 80; ++t) w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (std::size_t t = 0; t < 80; ++t) {
      std::uint32_t f = 0;
      std::uint32_t k = 0;
      if (t < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (t < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const std::uint32_t next = std::rotl(a, 5) + f + e + k + w[t];
      e = d;
      d = c;
      c = std::rotl(b, 30);
      b = a;
      a = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::array<std::uint8_t, 20> digest{};
  StoreBigEndian(h, digest);
  return digest;
}

std::array<std::uint8_t, 32> FakeCrypto::ComputeSha256(std::span<const std::uint8_t> data) {
  static constexpr std::uint32_t kRound[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
      0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
      0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
      0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
      0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
      0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
      0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const std::vector<std::uint8_t> message = PaddedBlocks(data);
  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::uint32_t w[64];
    for (std::size_t t = 0; t < 16; ++t) w[t] = BigEndianWord(&message[block + 4 * t]);
    for (std::size_t t = 16; t < 64; ++t) {
      const std::uint32_t s0 = std::rotr(w[t - 15], 7) ^ std::rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
      const std::uint32_t s1 = std::rotr(w[t - 2], 17) ^ std::rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    std::uint32_t v[8];
    std::copy(std::begin(h), std::end(h), v);
    for (std::size_t t = 0; t < 64; ++t) {
      const std::uint32_t s1 = std::rotr(v[4], 6) ^ std::rotr(v[4], 11) ^ std::rotr(v[4], 25);
      const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const std::uint32_t t1 = v[7] + s1 + choice + kRound[t] + w[t];
      const std::uint32_t s0 = std::rotr(v[0], 2) ^ std::rotr(v[0], 13) ^ std::rotr(v[0], 22);
      const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      std::copy_backward(v, v + 7, v + 8);
      v[4] += t1;
      v[0] = t1 + s0 + majority;
    }
    for (std::size_t i = 0; i < 8; ++i) h[i] += v[i];
  }
  std::array<std::uint8_t, 32> digest{};
  StoreBigEndian(h, digest);
  return digest;
}

void FakeCrypto::Rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data) {
  std::array<std::uint8_t, 256> s{};
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    j = static_cast<std::uint8_t>(j + s[i] + key[i % key.size()]);
    std::swap(s[i], s[j]);
  }
  std::uint8_t i = 0;
  j = 0;
  for (auto& byte : data) {
    i = static_cast<std::uint8_t>(i + 1);
    j = static_cast<std::uint8_t>(j + s[i]);
    std::swap(s[i], s[j]);
    byte ^= s[static_cast<std::uint8_t>(s[i] + s[j])];
  }
}

namespace {

// CryptDeriveKey's RC4 key of 128 bits from a SHA-1 hash: the hash's first 16 bytes (no salt
// with the enhanced provider).
std::array<std::uint8_t, 16> DerivedKey(std::span<const std::uint8_t> passPhrase) {
  const auto hash = FakeCrypto::ComputeSha1(passPhrase);
  std::array<std::uint8_t, 16> key{};
  std::copy_n(hash.begin(), key.size(), key.begin());
  return key;
}

}  // namespace

std::vector<std::uint8_t> FakeCrypto::EncryptRc4(std::string_view passPhrase, std::string_view plaintext) {
  const std::vector<std::uint8_t> phrase(passPhrase.begin(), passPhrase.end());
  std::vector<std::uint8_t> data(plaintext.begin(), plaintext.end());
  Rc4(DerivedKey(phrase), data);
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
    os::OsError failure = 0;
    owner_.Locked([&] { failure = owner_.decryptError_; });
    if (failure != 0) {
      error = failure;
      return false;
    }
    // A final block: every call starts from the fresh key, as CryptDecrypt's final call does.
    Rc4(key_, data);
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
  return std::make_unique<Key>(*this, DerivedKey(passPhrase));
}

bool FakeCrypto::Sha256(std::span<const std::uint8_t> data, std::array<std::uint8_t, 32>& digest) {
  {
    std::lock_guard lock(mutex_);
    if (sha256Fails_) return false;
  }
  digest = ComputeSha256(data);
  return true;
}

bool FakeCrypto::ReadSignerNames(std::string_view path, os::SignerNames& names, os::OsError& error) {
  std::lock_guard lock(mutex_);
  const auto it = signatures_.find(LowerPath(path));
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
  const auto it = signatures_.find(LowerPath(path));
  error = it == signatures_.end() ? kNoSignature : it->second.trust;
  if (error != os::kSuccess) return false;
  signer = it->second.verified.value_or(it->second.names);
  return true;
}

void FakeCrypto::SetSigner(std::string_view path, os::SignerNames names, os::OsError trust) {
  std::lock_guard lock(mutex_);
  signatures_[LowerPath(path)] = Signature{std::move(names), trust, std::nullopt};
}

void FakeCrypto::SetVerifiedSigner(std::string_view path, os::SignerNames names) {
  std::lock_guard lock(mutex_);
  signatures_[LowerPath(path)].verified = std::move(names);
}

void FakeCrypto::FailKeyAt(os::KeyStep step, os::OsError error) {
  std::lock_guard lock(mutex_);
  failStep_ = step;
  failError_ = error;
}

int FakeCrypto::LiveKeys() const {
  std::lock_guard lock(mutex_);
  return liveKeys_;
}

int FakeCrypto::KeysMade() const {
  std::lock_guard lock(mutex_);
  return keysMade_;
}

}  // namespace orv::fakes
