// The system's cryptography, in memory: stub until the real fake lands.
#pragma once

#include "os/crypto.h"

namespace orv::fakes {

class FakeCrypto final : public os::Crypto {
 public:
  std::unique_ptr<os::Rc4Key> DeriveRc4Key(std::span<const std::uint8_t>, os::KeyStep& failed,
                                           os::OsError& error) override {
    failed = os::KeyStep::Provider;
    error = os::kErrorNotSupported;
    return nullptr;
  }
  bool Sha256(std::span<const std::uint8_t>, std::array<std::uint8_t, 32>&) override { return false; }
  bool ReadSignerNames(std::string_view, os::SignerNames&, os::OsError& error) override {
    error = os::kErrorNotSupported;
    return false;
  }
  bool IsSignatureTrusted(std::string_view, os::OsError& error) override {
    error = os::kErrorNotSupported;
    return false;
  }
};

}  // namespace orv::fakes
