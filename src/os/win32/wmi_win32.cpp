#include "os/win32/wmi_win32.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <atomic>
#include <utility>
#include <vector>

// clang-format off
#include "os/win32/windows_api.h"
#include <ole2.h>
#include <oleauto.h>
#include <wbemidl.h>
// clang-format on

#include "os/win32/com_owners.h"
#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

class Win32WmiApartment final : public os::WmiApartment {
 public:
  ~Win32WmiApartment() override { ::CoUninitialize(); }
};

class Win32WmiObject final : public os::WmiObject {
 public:
  explicit Win32WmiObject(UniqueCom<IWbemClassObject> object) : object_(std::move(object)) {}

  os::WmiResult GetText(std::string_view name, std::string& text) override {
    UniqueVariant value;
    const HRESULT hr = object_.get()->Get(Wide(name).c_str(), 0, value.get(), nullptr, nullptr);
    if (FAILED(hr)) return hr;
    switch ((*value).vt) {
      case VT_BSTR: {
        const BSTR string = (*value).bstrVal;
        text = Narrow(std::wstring_view(string, ::SysStringLen(string)));
        return S_OK;
      }
      case VT_NULL:
      case VT_EMPTY: text.clear(); return S_FALSE;
      default: return os::kWmiTypeMismatch;
    }
  }

  std::unique_ptr<os::WmiObject> GetEmbedded(std::string_view name, os::WmiResult& result) override {
    UniqueVariant value;
    result = object_.get()->Get(Wide(name).c_str(), 0, value.get(), nullptr, nullptr);
    if (FAILED(result)) return nullptr;
    if ((*value).vt == VT_NULL || (*value).vt == VT_EMPTY) {
      result = S_FALSE;
      return nullptr;
    }
    IWbemClassObject* raw = nullptr;
    if ((*value).vt != VT_UNKNOWN || (*value).punkVal == nullptr ||
        FAILED((*value).punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&raw)))) {
      result = os::kWmiTypeMismatch;
      return nullptr;
    }
    result = S_OK;
    return std::make_unique<Win32WmiObject>(UniqueCom<IWbemClassObject>(raw));
  }

 private:
  UniqueCom<IWbemClassObject> object_;
};

class Win32WmiEnumerator final : public os::WmiEnumerator {
 public:
  explicit Win32WmiEnumerator(UniqueCom<IEnumWbemClassObject> enumerator)
      : enumerator_(std::move(enumerator)) {}

  std::unique_ptr<os::WmiObject> Next(std::uint32_t timeoutMs, os::WmiResult& result) override {
    // WBEM_INFINITE is -1: a large unsigned time-out must not turn into it.
    const auto timeout = static_cast<LONG>(std::min<std::uint32_t>(timeoutMs, 0x7FFFFFFF));
    IWbemClassObject* raw = nullptr;
    ULONG returned = 0;
    const HRESULT hr = enumerator_.get()->Next(timeout, 1, &raw, &returned);
    UniqueCom<IWbemClassObject> object(raw);  // owned whatever the result says
    if (hr != S_OK || returned != 1 || !object) {
      result = hr == S_OK ? os::kWmiFalse : hr;
      return nullptr;
    }
    result = S_OK;
    return std::make_unique<Win32WmiObject>(std::move(object));
  }

 private:
  UniqueCom<IEnumWbemClassObject> enumerator_;
};

// The COM face of an os::WmiEventSink: WMI calls it on its own threads and holds references
// to it for as long as it likes, so it owns a share of the sink. Only its own Release deletes
// it, through the final class, so the interface's non-virtual destructor is never used.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ForwardingSink final : public IWbemObjectSink {
 public:
  explicit ForwardingSink(std::shared_ptr<os::WmiEventSink> sink) : sink_(std::move(sink)) {}
  ~ForwardingSink() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemObjectSink)) {
      *out = static_cast<IWbemObjectSink*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Indicate(LONG count, IWbemClassObject** objects) override {
    if (count <= 0 || objects == nullptr) return WBEM_S_NO_ERROR;
    std::vector<std::unique_ptr<os::WmiObject>> owned;
    std::vector<os::WmiObject*> view;
    for (LONG i = 0; i < count; ++i) {
      if (objects[i] == nullptr) continue;
      objects[i]->AddRef();  // WMI keeps its own reference: the wrapper takes one of ours
      owned.push_back(std::make_unique<Win32WmiObject>(UniqueCom<IWbemClassObject>(objects[i])));
      view.push_back(owned.back().get());
    }
    sink_->Indicate(view);
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) override { return WBEM_S_NO_ERROR; }

 private:
  std::atomic<ULONG> references_{1};
  std::shared_ptr<os::WmiEventSink> sink_;
};
#pragma GCC diagnostic pop

class Win32WmiSubscription final : public os::WmiSubscription {
 public:
  Win32WmiSubscription(UniqueCom<IWbemServices> services, UniqueCom<IUnsecuredApartment> apartment,
                       UniqueCom<IUnknown> stub, UniqueCom<IWbemObjectSink> stubSink)
      : services_(std::move(services)),
        apartment_(std::move(apartment)),
        stub_(std::move(stub)),
        stubSink_(std::move(stubSink)) {}
  ~Win32WmiSubscription() override { services_.get()->CancelAsyncCall(stubSink_.get()); }

 private:
  UniqueCom<IWbemServices> services_;
  UniqueCom<IUnsecuredApartment> apartment_;
  UniqueCom<IUnknown> stub_;
  UniqueCom<IWbemObjectSink> stubSink_;
};

class Win32WmiSession final : public os::WmiSession {
 public:
  static std::unique_ptr<os::WmiSubscription> Failed(os::WmiResult& result) {
    if (!FAILED(result)) result = E_FAIL;
    return nullptr;
  }

  Win32WmiSession(UniqueCom<IWbemLocator> locator, UniqueCom<IWbemServices> services)
      : locator_(std::move(locator)), services_(std::move(services)) {}

  std::unique_ptr<os::WmiEnumerator> ExecQuery(std::string_view wql,
                                               os::WmiResult& result) override {
    const UniqueBstr language = MakeBstr("WQL");
    const UniqueBstr query = MakeBstr(wql);
    if (!language || !query) {
      result = E_OUTOFMEMORY;
      return nullptr;
    }
    IEnumWbemClassObject* raw = nullptr;
    // Returning at once makes the enumeration semi-synchronous: only Next waits, and it has
    // a deadline.
    const HRESULT hr = services_.get()->ExecQuery(
        language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
        &raw);
    UniqueCom<IEnumWbemClassObject> enumerator(raw);
    if (FAILED(hr) || !enumerator) {
      result = FAILED(hr) ? hr : E_FAIL;
      return nullptr;
    }
    result = S_OK;
    return std::make_unique<Win32WmiEnumerator>(std::move(enumerator));
  }

  std::unique_ptr<os::WmiSubscription> Subscribe(std::string_view wql, std::shared_ptr<os::WmiEventSink> sink,
                                                 os::WmiResult& result) override {
    const UniqueBstr language = MakeBstr("WQL");
    const UniqueBstr query = MakeBstr(wql);
    if (!language || !query) {
      result = E_OUTOFMEMORY;
      return nullptr;
    }
    IUnsecuredApartment* rawApartment = nullptr;
    result = ::CoCreateInstance(CLSID_UnsecuredApartment, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnsecuredApartment,
                                reinterpret_cast<void**>(&rawApartment));
    UniqueCom<IUnsecuredApartment> apartment(rawApartment);
    if (FAILED(result) || !apartment) return Failed(result);

    UniqueCom<IWbemObjectSink> forwarding(new ForwardingSink(std::move(sink)));
    IUnknown* rawStub = nullptr;
    result = apartment.get()->CreateObjectStub(forwarding.get(), &rawStub);
    UniqueCom<IUnknown> stub(rawStub);
    if (FAILED(result) || !stub) return Failed(result);
    IWbemObjectSink* rawStubSink = nullptr;
    result = stub.get()->QueryInterface(IID_IWbemObjectSink, reinterpret_cast<void**>(&rawStubSink));
    UniqueCom<IWbemObjectSink> stubSink(rawStubSink);
    if (FAILED(result) || !stubSink) return Failed(result);

    result = services_.get()->ExecNotificationQueryAsync(language.get(), query.get(), WBEM_FLAG_SEND_STATUS, nullptr,
                                                         stubSink.get());
    if (FAILED(result)) return nullptr;
    services_.get()->AddRef();
    return std::make_unique<Win32WmiSubscription>(UniqueCom<IWbemServices>(services_.get()), std::move(apartment),
                                                  std::move(stub), std::move(stubSink));
  }

 private:
  // Released in reverse order: the services before the locator that made them.
  UniqueCom<IWbemLocator> locator_;
  UniqueCom<IWbemServices> services_;
};

}  // namespace

std::unique_ptr<os::WmiApartment> Win32WmiConnector::JoinApartment(os::WmiResult& result) {
  result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(result)) return nullptr;
  return std::make_unique<Win32WmiApartment>();
}

os::WmiResult Win32WmiConnector::InitializeSecurity() {
  return ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

std::unique_ptr<os::WmiSession> Win32WmiConnector::Connect(std::string_view nameSpace,
                                                           os::WmiResult& result) {
  IWbemLocator* rawLocator = nullptr;
  HRESULT hr =
      ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                         IID_IWbemLocator, reinterpret_cast<void**>(&rawLocator));
  UniqueCom<IWbemLocator> locator(rawLocator);
  if (FAILED(hr) || !locator) {
    result = FAILED(hr) ? hr : E_FAIL;
    return nullptr;
  }

  const UniqueBstr path = MakeBstr(nameSpace);
  if (!path) {
    result = E_OUTOFMEMORY;
    return nullptr;
  }
  IWbemServices* rawServices = nullptr;
  // The caller's credentials and the default locale; without the flag a connection to a
  // stuck WMI service could wait for ever.
  hr = locator.get()->ConnectServer(path.get(), nullptr, nullptr, nullptr,
                                    WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr, nullptr, &rawServices);
  UniqueCom<IWbemServices> services(rawServices);
  if (FAILED(hr) || !services) {
    result = FAILED(hr) ? hr : E_FAIL;
    return nullptr;
  }

  hr = ::CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                           RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) {
    result = hr;
    return nullptr;
  }
  result = S_OK;
  return std::make_unique<Win32WmiSession>(std::move(locator), std::move(services));
}

}  // namespace orv::win32
