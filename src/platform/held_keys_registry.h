// HeldKeysRegistry: a registry that can keep the keys of one pass open.
//
// A monitoring round reads a few dozen values from a handful of keys. Opened per value, every
// read costs the system an opening and a closing as well; held, a round opens each key once.
// While a hold lives, the holding thread's calls go through one open key per path and access,
// opened at the key's first use (a failed opening is remembered as well, so a missing key is
// asked after once per hold). A key opened for reading serves reads until the first write, which
// opens it with all access; from then on that opening serves both. Values are still read at every
// call, so what the settings program writes meanwhile is seen at once. Other threads, and every
// call outside a hold, go straight to the registry underneath.
//
// The keys that opened stay open when the hold ends and serve the next hold, so a quiet round
// opens nothing at all; a key that failed to open is asked after again. A kept key may have been
// deleted since (and perhaps created anew): a call that finds it deleted opens the path again and
// is made once more, and a probe of a kept key asks the key itself whether it still exists.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "os/registry.h"

namespace orv {

class HeldKeysRegistry final : public os::Registry {
 public:
  explicit HeldKeysRegistry(os::Registry& inner) : inner_(inner) {}

  // Holds nest: the outermost hold closes the keys. Taken by a second thread while another
  // thread holds, it holds nothing.
  std::unique_ptr<os::RegistryHold> HoldKeys() override;

  os::OsResult<os::RegistryKey> OpenKey(os::RegistryRoot root, std::string_view path,
                                        os::RegistryAccess access) override;
  os::OsError ProbeKey(os::RegistryRoot root, std::string_view path, os::RegistryAccess access) override;
  os::OsError QueryValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                         os::RegistryValue& out) override;
  os::OsError SetValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                       os::RegistryType type, std::span<const std::uint8_t> data) override;
  os::OsError DeleteValue(os::RegistryRoot root, std::string_view path, std::string_view name) override;
  os::OsError EnumSubKeys(os::RegistryRoot root, std::string_view path, std::vector<std::string>& names) override;
  os::OsError CreateKey(os::RegistryRoot root, std::string_view path) override;
  os::OsError DeleteKeyTree(os::RegistryRoot root, std::string_view path) override;
  os::OsResult<os::RegistryWatch> Watch(os::RegistryRoot root, std::string_view path) override;

 private:
  class Hold;
  // One path's openings during a hold; an error stands for an opening that failed.
  struct Opening {
    std::unique_ptr<os::RegistryKey> key;
    os::OsError error = os::kSuccess;
  };
  struct HeldKey {
    Opening read;
    Opening all;
    bool kept = false;  // opened in an earlier hold and not used since: its key may be gone
  };

  // Where a call goes: `held` false sends it to the registry underneath; otherwise `key` is the
  // held opening that allows the access, or nullptr with the error of that opening.
  struct Route {
    bool held = false;
    os::RegistryKey* key = nullptr;
    os::OsError error = os::kSuccess;
    HeldKey* entry = nullptr;
  };
  Route Find(os::RegistryRoot root, std::string_view path, os::RegistryAccess access);
  // Makes `call` on the held opening of root\path that allows `access`, opening the path again
  // once if its key was deleted; nullopt when the call is not held.
  template <typename Call>
  std::optional<os::OsError> OnHeld(os::RegistryRoot root, std::string_view path, os::RegistryAccess access,
                                    Call call);
  bool HeldByThisThread();
  void Forget(os::RegistryRoot root, std::string_view path);
  void Release();

  os::Registry& inner_;
  std::mutex mutex_;  // guards the holder and the depth; the keys are the holding thread's alone
  std::thread::id holder_;
  int depth_ = 0;
  std::map<std::pair<os::RegistryRoot, std::string>, HeldKey> keys_;  // by root and lower-cased path
};

}  // namespace orv
