// The agent's world on the fakes with its settings key at hand, for the tests of the service and
// its reports: settings, what the cloud answers, what was logged.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "fakes/fake_os.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "report/model_identity.h"
#include "support/shared_names.h"

namespace orv::testing {

// A cloud that answers every request with `status` and `body`.
inline void CloudAnswers(fakes::FakeOs& os, std::uint32_t status, std::string body) {
  os.http.handler = [status, body = std::move(body)](const os::HttpRequest&, os::HttpResponse& response,
                                                     os::OsError&) {
    response.status = status;
    response.body.assign(body.begin(), body.end());
    return true;
  };
}

class AgentFixture : public ::testing::Test {
 protected:
  explicit AgentFixture(bool simulatedTime = false) : os(simulatedTime) {}

  void SetDword(std::string_view name, std::uint32_t value) {
    RegHandle::SetDword(os.registry, ::orv::kHklm, ::orv::kStatusKey, name, value);
  }
  void SetString(std::string_view name, std::string_view value) {
    RegHandle::SetString(os.registry, ::orv::kHklm, ::orv::kStatusKey, name, value);
  }
  std::uint32_t Dword(std::string_view name) {
    return RegHandle::GetDword(os.registry, ::orv::kHklm, ::orv::kStatusKey, name).value_or(RegHandle::kMissingDword);
  }
  void Answer(std::uint32_t status, std::string body) { CloudAnswers(os, status, std::move(body)); }
  // Entries logged with `id`, and the text of the first.
  int Count(std::uint32_t id) {
    const auto ids = os.eventReporter.Ids();
    return static_cast<int>(std::count(ids.begin(), ids.end(), id));
  }
  bool Logged(std::uint32_t id) { return Count(id) > 0; }
  std::string TextOf(std::uint32_t id) {
    for (const auto& entry : os.eventReporter.Entries()) {
      if (entry.eventId == id) return entry.text;
    }
    return {};
  }
  void AddUninstallEntry(const std::string& key, std::string_view name, const char* version) {
    const std::string path = std::string(::orv::kUninstallKey) + "\\" + key;
    os.registry.AddKey(path);
    RegHandle::SetString(os.registry, ::orv::kHklm, path, "DisplayName", name);
    if (version != nullptr) RegHandle::SetString(os.registry, ::orv::kHklm, path, "DisplayVersion", version);
  }

  fakes::FakeOs os;
};

}  // namespace orv::testing
