// The local machine's shares through the network management API (Windows only).
#include "os/win32/network_shares_win32.h"

#include "os/win32/windows_api.h"

#include <lm.h>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

// Kept here rather than in unique_handle.h, so that only this adapter sees <lm.h>.
struct NetApiBufferTraits {
  using Handle = LPBYTE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::NetApiBufferFree(h); }
};
using UniqueNetApiBuffer = UniqueHandle<NetApiBufferTraits>;

}  // namespace

bool Win32NetworkShares::List(std::vector<os::ShareEntry>& shares, os::OsError& error) {
  shares.clear();
  // Level 2 carries the current connections (and needs an administrator, as the service is).
  // One call normally brings the whole list; ERROR_MORE_DATA goes on from the resume handle.
  DWORD resume = 0;
  for (;;) {
    UniqueNetApiBuffer buffer;
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS status = ::NetShareEnum(nullptr, 2, buffer.Receive(), MAX_PREFERRED_LENGTH, &read, &total, &resume);
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
      shares.clear();  // part of a list would undercount as if it were all
      error = status;
      return false;
    }
    const auto* entries = reinterpret_cast<const SHARE_INFO_2*>(buffer.get());
    for (DWORD i = 0; entries != nullptr && i < read; ++i) {
      os::ShareEntry& share = shares.emplace_back();
      if (entries[i].shi2_netname != nullptr) share.name = Narrow(entries[i].shi2_netname);
      share.type = entries[i].shi2_type;
      share.currentUses = entries[i].shi2_current_uses;
    }
    if (status == NERR_Success) break;
    if (read == 0) {  // more announced but nothing read: stop rather than ask for ever
      shares.clear();
      error = ERROR_MORE_DATA;
      return false;
    }
  }
  error = os::kSuccess;
  return true;
}

}  // namespace orv::win32
