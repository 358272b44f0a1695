#include "platform/c_crypt_string.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fakes/fake_os.h"

namespace orv {
namespace {

using os::KeyStep;

constexpr const char* kStatusKey = "SOFTWARE\\ORVANE\\ORVSVC\\Status";
constexpr const char* kPassPhrase = "TokHarvelinSeedQRZ";

std::vector<std::uint8_t> StoredBytes(std::string_view text) { return {text.begin(), text.end()}; }

class CCryptStringTest : public ::testing::Test {
 protected:
  CCryptStringTest() { os.registry.AddKey(kStatusKey); }

  void Store(std::vector<std::uint8_t> bytes, os::RegistryType type = os::RegistryType::Binary) {
    ASSERT_EQ(os.registry.SetValue(os::RegistryRoot::LocalMachine, kStatusKey, "ProxyPassword", type, bytes),
              os::kSuccess);
  }
  int Decrypt(std::string& out) { return crypt.DecryptRegistryValue(out, kStatusKey, "ProxyPassword"); }

  fakes::FakeOs os;
  CCryptString crypt{os.Ports()};
};

TEST_F(CCryptStringTest, DecryptsWhatTheSettingsProgramStores) {
  const std::string password = "p@ss-wörd 日本語";
  const std::vector<std::uint8_t> cipher = fakes::FakeCrypto::Encrypt(kPassPhrase, password);
  std::vector<std::uint8_t> withTerminator = cipher;
  withTerminator.push_back(0);
  for (const auto& stored : {cipher, withTerminator, fakes::FakeCrypto::Encrypt(kPassPhrase, password + '\0')}) {
    Store(stored);
    std::string out = "stale";
    EXPECT_EQ(Decrypt(out), CCryptString::kDecrypted);
    EXPECT_EQ(out, password);
  }
  EXPECT_EQ(os.crypto.LiveKeys(), 0) << "each call releases its key";

  // The same bytes under another pass phrase are not the password: the key is the phrase's.
  Store(fakes::FakeCrypto::Encrypt(std::string_view("TokHarvelinSeedQRZ\0", 19), password));
  std::string out;
  EXPECT_EQ(Decrypt(out), CCryptString::kDecrypted);
  EXPECT_NE(out, password);
}

// Every way a value fails leaves the output as it was and releases the key.
TEST_F(CCryptStringTest, MissingMistypedOversizedOrFailingStepsKeepTheOutput) {
  const std::string longest(CCryptString::kMaxStoredBytes, 'x');
  struct Case {
    const char* what;
    std::function<void()> arrange;
    int status;
    const char* out;  // nullptr: "kept"
  };
  const Case cases[] = {
      {"missing", [] {}, CCryptString::kValueUnreadable, nullptr},
      {"text", [&] { Store(StoredBytes("s\0e\0c\0\0\0"), os::RegistryType::String); }, CCryptString::kValueUnreadable, nullptr},
      {"empty", [&] { Store({}); }, CCryptString::kDecrypted, ""},
      {"longest", [&] { Store(fakes::FakeCrypto::Encrypt(kPassPhrase, longest)); }, CCryptString::kDecrypted, longest.c_str()},
      // More than the settings program's buffer holds is not a value it wrote.
      {"too long", [&] { Store(fakes::FakeCrypto::Encrypt(kPassPhrase, longest + "x")); }, CCryptString::kValueUnreadable, nullptr},
      {"provider", [&] { Store(fakes::FakeCrypto::Encrypt(kPassPhrase, "secret")); os.crypto.FailKeyAt(KeyStep::Provider); }, CCryptString::kNoProvider, nullptr},
      {"derive", [&] { os.crypto.FailKeyAt(KeyStep::DeriveKey); }, CCryptString::kNoKey, nullptr},
      {"decrypt", [&] { os.crypto.FailKeyAt(KeyStep::Done); os.crypto.FailDecrypt(0x80090005 /* NTE_BAD_DATA */); },
       CCryptString::kDecryptionFailed, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    std::string out = "kept";
    EXPECT_EQ(Decrypt(out), c.status);
    EXPECT_EQ(out, c.out != nullptr ? c.out : "kept");
    EXPECT_EQ(os.crypto.LiveKeys(), 0);
  }
}

}  // namespace
}  // namespace orv
