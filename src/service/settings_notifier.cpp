#include "service/settings_notifier.h"

#include <string>

#include "service/send_pipe.h"
#include "service/test_mode.h"

namespace orv {

void SettingsNotifier::Notify(const service::PipeNotice& notice) {
  os::OsError error = os::kSuccess;
  (void)Send(service::SerializePipeNotice(notice, os_.system), {}, error);
}

bool SettingsNotifier::SendRecord(const service::RegistrationRecord& record, os::OsError& error) {
  // Test switch 6 moves this record, and no notice, to the pipe's twin.
  const bool testPipe = service::IsTestMode("SVS_TESTMODE_6", os_.files, os_.system);
  return Send(service::SerializeRegistrationRecord(record, os_.system),
              testPipe ? service::kTestPipeSuffix : std::string_view{}, error);
}

bool SettingsNotifier::Send(std::span<const std::uint8_t> bytes, std::string_view pipeSuffix,
                            os::OsError& error) {
  std::string pipeName(service::kSettingsPipeName);
  pipeName += pipeSuffix;
  service::SendPipe pipe(os_.pipes, pipeName);
  const bool sent = pipe.Send(bytes);
  error = pipe.LastError();
  return sent;
}

}  // namespace orv
