// Feeds arbitrary bodies to the reading of Web API answers: the body comes from the network
// (or whatever answers in the server's place), so no body, cut or mangled or huge, may crash a
// read or reach outside it. Every value read must be a piece of the body, and every answer
// must have a result text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "webapi/agent_ctrl_webapi.h"

namespace {

void CheckInsideBody(std::string_view body, const std::string& value) {
  if (!value.empty() && body.find(value) == std::string_view::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the status, so success and error answers are both reached.
  static constexpr std::uint32_t kStatuses[] = {200, 201, 400, 401, 404, 405, 409, 500};
  const std::uint32_t status = kStatuses[data[0] % 8];
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);

  for (const int kind : {orv::kRequestRegistrationData, orv::kRequestLatestSoftware, orv::kRequestRegistration}) {
    orv::WebApiResponse response;
    orv::ParseWebApiResponse(response, kind, status, body);
    for (const std::string* value :
         {&response.dev_id, &response.dev_id_changed, &response.mac_adr_changed, &response.agt_daily_sec,
          &response.agt_status_sec, &response.ms_ver, &response.agt_ver, &response.ms_url, &response.agt_url,
          &response.event_def_raw, &response.error_id, &response.error_field, &response.error_value}) {
      CheckInsideBody(body, *value);
    }
    // Decoding only ever shortens the definition.
    if (response.event_def.size() > response.event_def_raw.size()) std::abort();
    if (orv::WebApiResultMessage(response, false).empty() || orv::WebApiResultMessage(response, true).empty()) {
      std::abort();
    }
  }
  return 0;
}
