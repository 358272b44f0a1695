#include "os/win32/synchronization_win32.h"

#include <process.h>

#include <cerrno>
#include <vector>

#include "os/win32/security_descriptor_win32.h"
#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

class Win32Event final : public os::Event {
 public:
  explicit Win32Event(UniqueKernelHandle handle) : handle_(std::move(handle)) {}
  void Set() override { ::SetEvent(handle_.get()); }
  void Reset() override { ::ResetEvent(handle_.get()); }
  HANDLE get() const { return handle_.get(); }

 private:
  UniqueKernelHandle handle_;
};

class Win32Thread final : public os::Thread {
 public:
  explicit Win32Thread(UniqueKernelHandle handle) : handle_(std::move(handle)) {}
  bool Join(std::uint32_t timeoutMs) override {
    return ::WaitForSingleObject(handle_.get(), timeoutMs) == WAIT_OBJECT_0;
  }

 private:
  UniqueKernelHandle handle_;
};

unsigned __stdcall ThreadTrampoline(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

os::OsResult<os::Event> Win32Synchronization::NewEvent(os::EventReset reset, std::string_view name) {
  const std::wstring wideName = Wide(name);
  UniqueKernelHandle handle(::CreateEventW(nullptr, reset == os::EventReset::Manual ? TRUE : FALSE, FALSE,
                                           name.empty() ? nullptr : wideName.c_str()));
  if (!handle) return ::GetLastError();
  return std::make_unique<Win32Event>(std::move(handle));
}

os::OsResult<os::Event> Win32Synchronization::NewSecuredEvent(os::EventReset reset, std::string_view name,
                                                              std::string_view sddl,
                                                              std::optional<std::string>& existingOwner) {
  SddlDescriptor descriptor(sddl);
  if (descriptor.error() != os::kSuccess) return descriptor.error();
  const std::wstring wideName = Wide(name);
  UniqueKernelHandle handle(::CreateEventW(descriptor.attributes(),
                                           reset == os::EventReset::Manual ? TRUE : FALSE, FALSE,
                                           wideName.c_str()));
  if (!handle) return ::GetLastError();
  // The descriptor was ignored for an event someone else had already created under the name.
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    std::string owner;
    if (KernelObjectOwner(handle.get(), owner) != os::kSuccess) owner.clear();
    existingOwner = std::move(owner);
  } else {
    existingOwner.reset();
  }
  return std::make_unique<Win32Event>(std::move(handle));
}

os::OsResult<os::Event> Win32Synchronization::OpenNamedEvent(std::string_view name) {
  UniqueKernelHandle handle(::OpenEventW(EVENT_ALL_ACCESS, FALSE, Wide(name).c_str()));
  if (!handle) return ::GetLastError();
  return std::make_unique<Win32Event>(std::move(handle));
}

HANDLE NativeEventHandle(os::Event& event) { return static_cast<Win32Event&>(event).get(); }

std::uint32_t Win32Synchronization::WaitAny(std::span<os::Event* const> events,
                                            std::uint32_t timeoutMs) {
  if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) return os::kWaitFailed;
  std::vector<HANDLE> handles;
  handles.reserve(events.size());
  // Every event of this process comes from this adapter.
  for (os::Event* event : events) handles.push_back(NativeEventHandle(*event));
  const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                handles.data(), FALSE, timeoutMs);
  if (result < WAIT_OBJECT_0 + handles.size()) return result - WAIT_OBJECT_0;
  if (result == WAIT_TIMEOUT) return os::kWaitTimeout;
  return os::kWaitFailed;
}

os::OsResult<os::Thread> Win32Synchronization::StartThread(std::function<void()> body) {
  auto argument = std::make_unique<std::function<void()>>(std::move(body));
  const std::uintptr_t handle =
      ::_beginthreadex(nullptr, 0, &ThreadTrampoline, argument.get(), 0, nullptr);
  if (handle == 0) {
    return static_cast<os::OsError>(errno == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ::GetLastError());
  }
  argument.release();  // the thread owns it now
  return std::make_unique<Win32Thread>(UniqueKernelHandle(reinterpret_cast<HANDLE>(handle)));
}

}  // namespace orv::win32
