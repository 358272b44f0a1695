// CCryptString: the stored proxy password and the code signature of a downloaded file.
#include "platform/c_crypt_string.h"

#include <array>
#include <span>
#include <vector>

#include "platform/reg_handle.h"

namespace orv {

namespace {

// Built into the settings program as well; the key is derived from exactly these 18 bytes.
constexpr std::array<std::uint8_t, 18> kPassPhrase = {'T', 'o', 'k', 'H', 'a', 'r', 'v', 'e', 'l',
                                                      'i', 'n', 'S', 'e', 'e', 'd', 'Q', 'R', 'Z'};

int KeyStepStatus(os::KeyStep step) {
  switch (step) {
    case os::KeyStep::Provider:
      return CCryptString::kNoProvider;
    case os::KeyStep::Hash:
      return CCryptString::kNoHash;
    case os::KeyStep::HashData:
      return CCryptString::kPassPhraseNotHashed;
    case os::KeyStep::DeriveKey:
    case os::KeyStep::Done:
      break;
  }
  return CCryptString::kNoKey;
}

}  // namespace

int CCryptString::DecryptRegistryValue(std::string& out, std::string_view keyPath,
                                       std::string_view valueName) const {
  os::KeyStep failed = os::KeyStep::Done;
  const auto key = os_.crypto.DeriveRc4Key(kPassPhrase, failed);
  if (!key) return KeyStepStatus(failed);
  std::vector<std::uint8_t> data;
  if (!RegHandle::GetBinary(os_.registry, os::RegistryRoot::LocalMachine, keyPath, valueName, data) ||
      data.size() > kMaxStoredBytes) {
    return kValueUnreadable;
  }
  // A zero byte after the ciphertext is the settings program's string terminator, stored as it
  // was: decrypting it along would append a keystream byte to the password.
  if (!data.empty() && data.back() == 0) data.pop_back();
  os::OsError error = 0;
  if (!key->Decrypt(data, error)) return kDecryptionFailed;
  // The plaintext is a C string to the settings program: an encrypted terminator is not text.
  std::size_t length = 0;
  while (length < data.size() && data[length] != 0) ++length;
  out = os_.system.AnsiToUtf8(std::span(data).first(length));
  return kDecrypted;
}

bool CCryptString::GetSignerNames(std::string_view path, std::string& issuer, std::string& subject,
                                  os::OsError& error) const {
  issuer.clear();
  subject.clear();
  error = 0;
  os::SignerNames names;
  if (!os_.crypto.ReadSignerNames(path, names, error)) return false;
  issuer = std::move(names.issuer);
  subject = std::move(names.subject);
  return true;
}

}  // namespace orv
