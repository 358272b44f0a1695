// CryptoAPI, BCrypt and Authenticode (Windows only).
#include "os/win32/crypto_win32.h"

#include "os/win32/windows_api.h"
// After <windows.h>: these headers need its types.
#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {

namespace {

struct CryptProvTraits {
  using Handle = HCRYPTPROV;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle h) { return h != 0; }
  static void Close(Handle h) { ::CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
  using Handle = HCRYPTHASH;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle h) { return h != 0; }
  static void Close(Handle h) { ::CryptDestroyHash(h); }
};
struct CryptKeyTraits {
  using Handle = HCRYPTKEY;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle h) { return h != 0; }
  static void Close(Handle h) { ::CryptDestroyKey(h); }
};
struct BcryptAlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct BcryptHashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::BCryptDestroyHash(h); }
};
struct CertStoreTraits {
  using Handle = HCERTSTORE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::CertCloseStore(h, 0); }
};
struct CryptMsgTraits {
  using Handle = HCRYPTMSG;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::CryptMsgClose(h); }
};
struct CertContextTraits {
  using Handle = PCCERT_CONTEXT;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::CertFreeCertificateContext(h); }
};

using UniqueCryptProv = UniqueHandle<CryptProvTraits>;
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;
using UniqueCryptKey = UniqueHandle<CryptKeyTraits>;
using UniqueBcryptAlgorithm = UniqueHandle<BcryptAlgorithmTraits>;
using UniqueBcryptHash = UniqueHandle<BcryptHashTraits>;
using UniqueCertStore = UniqueHandle<CertStoreTraits>;
using UniqueCryptMsg = UniqueHandle<CryptMsgTraits>;
using UniqueCertContext = UniqueHandle<CertContextTraits>;

// Some of these calls fail without setting a last error; a failure must never read as success.
os::OsError LastErrorOr(os::OsError fallback) {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? static_cast<os::OsError>(error) : fallback;
}

// The key's destructor releases the key before the provider that made it.
class Win32Rc4Key final : public os::Rc4Key {
 public:
  Win32Rc4Key(UniqueCryptProv provider, UniqueCryptKey key)
      : provider_(std::move(provider)), key_(std::move(key)) {}

  bool Decrypt(std::vector<std::uint8_t>& data, os::OsError& error) override {
    if (data.size() > std::numeric_limits<DWORD>::max()) {
      error = os::kErrorInvalidParameter;
      return false;
    }
    // RC4 is a stream cipher: the plaintext is exactly as long as the ciphertext. A zero-length
    // call still needs a valid buffer pointer.
    std::uint8_t empty = 0;
    BYTE* bytes = data.empty() ? &empty : data.data();
    DWORD length = static_cast<DWORD>(data.size());
    if (!::CryptDecrypt(key_.get(), 0, TRUE, 0, bytes, &length)) {
      error = LastErrorOr(os::kErrorInvalidData);
      return false;
    }
    data.resize(length);
    error = os::kSuccess;
    return true;
  }

 private:
  UniqueCryptProv provider_;
  UniqueCryptKey key_;
};

// The settings program asks for the default key container of the enhanced RSA provider. A
// service account that never had one gets it created; where even that is refused (a profile
// that cannot store containers, and Wine without a container), a verify-only context still
// hashes and derives session keys, which is all the decryption needs. A service has no desktop
// to ask anything on: never let the provider try.
bool AcquireEnhancedProvider(UniqueCryptProv& provider, os::OsError& error) {
  for (const DWORD flags : {DWORD{0}, DWORD{CRYPT_NEWKEYSET}, DWORD{CRYPT_VERIFYCONTEXT}}) {
    HCRYPTPROV handle = 0;
    if (::CryptAcquireContextW(&handle, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, flags | CRYPT_SILENT)) {
      provider.reset(handle);
      error = os::kSuccess;
      return true;
    }
    error = LastErrorOr(os::kErrorNotSupported);
  }
  return false;
}

}  // namespace

os::OsResult<os::Rc4Key> Win32Crypto::DeriveRc4Key(std::span<const std::uint8_t> passPhrase,
                                                    os::KeyStep& failed) {
  failed = os::KeyStep::Done;
  UniqueCryptProv provider;
  os::OsError providerError = os::kSuccess;
  if (!AcquireEnhancedProvider(provider, providerError)) {
    failed = os::KeyStep::Provider;
    return providerError;
  }
  HCRYPTHASH hashHandle = 0;
  if (!::CryptCreateHash(provider.get(), CALG_SHA1, 0, 0, &hashHandle)) {
    failed = os::KeyStep::Hash;
    return LastErrorOr(os::kErrorNotSupported);
  }
  const UniqueCryptHash hash(hashHandle);
  if (passPhrase.size() > std::numeric_limits<DWORD>::max() ||
      !::CryptHashData(hash.get(), passPhrase.data(), static_cast<DWORD>(passPhrase.size()), 0)) {
    failed = os::KeyStep::HashData;
    return LastErrorOr(os::kErrorInvalidParameter);
  }
  // The key length sits in the upper 16 bits of the flags.
  constexpr DWORD kKeyBits128 = DWORD{128} << 16;
  HCRYPTKEY keyHandle = 0;
  if (!::CryptDeriveKey(provider.get(), CALG_RC4, hash.get(), kKeyBits128, &keyHandle)) {
    failed = os::KeyStep::DeriveKey;
    return LastErrorOr(os::kErrorNotSupported);
  }
  UniqueCryptKey key(keyHandle);
  return std::make_unique<Win32Rc4Key>(std::move(provider), std::move(key));
}

bool Win32Crypto::Sha256(std::span<const std::uint8_t> data, std::array<std::uint8_t, 32>& digest) {
  BCRYPT_ALG_HANDLE algorithmHandle = nullptr;
  if (::BCryptOpenAlgorithmProvider(&algorithmHandle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
    return false;
  }
  const UniqueBcryptAlgorithm algorithm(algorithmHandle);
  // With no object buffer of ours (Windows 7 and later) the provider keeps the hash state itself.
  BCRYPT_HASH_HANDLE hashHandle = nullptr;
  if (::BCryptCreateHash(algorithm.get(), &hashHandle, nullptr, 0, nullptr, 0, 0) < 0) return false;
  const UniqueBcryptHash hash(hashHandle);
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  for (std::size_t at = 0; at < data.size(); at += kChunk) {
    const auto piece = data.subspan(at, std::min(kChunk, data.size() - at));
    // BCryptHashData takes a non-const pointer but only reads.
    if (::BCryptHashData(hash.get(), const_cast<PUCHAR>(piece.data()), static_cast<ULONG>(piece.size()), 0) < 0) {
      return false;
    }
  }
  std::array<std::uint8_t, 32> result{};
  if (::BCryptFinishHash(hash.get(), result.data(), static_cast<ULONG>(result.size()), 0) < 0) return false;
  digest = result;
  return true;
}

namespace {

std::string SimpleDisplayName(PCCERT_CONTEXT certificate, DWORD flags) {
  const DWORD size = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, nullptr, 0);
  if (size <= 1) return {};
  std::wstring name(size, L'\0');
  const DWORD written = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr,
                                             name.data(), size);
  if (written <= 1) return {};
  name.resize(written - 1);
  return Narrow(name);
}

}  // namespace

bool Win32Crypto::ReadSignerNames(std::string_view path, os::SignerNames& names, os::OsError& error) {
  names = {};
  error = os::kSuccess;
  const std::wstring widePath = Wide(path);
  DWORD encoding = 0;
  DWORD contentType = 0;
  DWORD formatType = 0;
  HCERTSTORE storeHandle = nullptr;
  HCRYPTMSG messageHandle = nullptr;
  if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, widePath.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &storeHandle,
                          &messageHandle, nullptr)) {
    error = LastErrorOr(os::kErrorInvalidData);
    return false;
  }
  const UniqueCertStore store(storeHandle);
  const UniqueCryptMsg message(messageHandle);

  DWORD size = 0;
  if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0) {
    error = LastErrorOr(os::kErrorInvalidData);
    return false;
  }
  // The signer information is a structure followed by what its pointers point into: keep it
  // aligned for the structure.
  std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
    error = LastErrorOr(os::kErrorInvalidData);
    return false;
  }
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
  CERT_INFO wanted{};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  const UniqueCertContext certificate(::CertFindCertificateInStore(
      store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (!certificate) {
    error = LastErrorOr(static_cast<os::OsError>(CRYPT_E_NOT_FOUND));
    return false;
  }
  names.issuer = SimpleDisplayName(certificate.get(), CERT_NAME_ISSUER_FLAG);
  names.subject = SimpleDisplayName(certificate.get(), 0);
  return true;
}

bool Win32Crypto::VerifySignature(std::string_view path, os::SignerNames& signer, os::OsError& error) {
  signer = {};
  const std::wstring widePath = Wide(path);
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = widePath.c_str();
  WINTRUST_DATA trust{};
  trust.cbStruct = sizeof(trust);
  trust.dwUIChoice = WTD_UI_NONE;
  // The installer runs as LocalSystem: a certificate withdrawn after a key leaked must not
  // start it, whichever certificate of the chain it is.
  trust.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
  trust.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN;
  trust.dwUnionChoice = WTD_CHOICE_FILE;
  trust.pFile = &file;
  trust.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG result = ::WinVerifyTrust(nullptr, &action, &trust);
  if (result == ERROR_SUCCESS) {
    // The names come from the signer this verification accepted, not from a second read of
    // the file, which could meet other bytes or another signer block.
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(trust.hWVTStateData);
    CRYPT_PROVIDER_SGNR* verified =
        provider != nullptr ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (verified != nullptr && verified->csCertChain > 0 && verified->pasCertChain != nullptr &&
        verified->pasCertChain[0].pCert != nullptr) {
      signer.issuer = SimpleDisplayName(verified->pasCertChain[0].pCert, CERT_NAME_ISSUER_FLAG);
      signer.subject = SimpleDisplayName(verified->pasCertChain[0].pCert, 0);
    } else {
      signer = {};
      result = static_cast<LONG>(TRUST_E_NO_SIGNER_CERT);
    }
  }
  // The verification keeps state until it is closed, whatever it answered; the names were
  // copied out before.
  trust.dwStateAction = WTD_STATEACTION_CLOSE;
  ::WinVerifyTrust(nullptr, &action, &trust);
  error = static_cast<os::OsError>(result);
  return result == ERROR_SUCCESS;
}

}  // namespace orv::win32
