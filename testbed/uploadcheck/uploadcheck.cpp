// uploadcheck MAC RUN...: builds AgentCtrl_Upload on the real Win32 adapters (so its module
// folder is this program's folder), initializes it, and launches the uploader once per RUN,
// waiting for each to end. A RUN is "-" for a plain run or an exit code that the stand-in
// uploader is told to give (its "ORVUPLD.exitcode" file beside it), "keep" to launch twice
// without waiting in between. Prints "launch" TAB <LaunchUploader result 0|1> per launch.
// Exit status 2 for bad arguments.
#include <cstdio>
#include <cwchar>
#include <string>

#include "os/win32/wide_text.h"
#include "os/win32/win32_ports.h"
#include "report/agent_ctrl_upload.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: uploadcheck MAC RUN...\n");
    return 2;
  }
  const std::string mac = orv::win32::Narrow(argv[1]);
  orv::win32::Win32Ports win32;
  const orv::os::OsPorts ports = win32.Ports();
  orv::AgentCtrl_Upload upload(ports);
  upload.Initialize();
  const std::string forced = upload.ModuleFolder() + "ORVUPLD.exitcode";
  for (int i = 2; i < argc; ++i) {
    const std::wstring run = argv[i];
    if (run == L"keep") {
      std::printf("launch\t%d\n", upload.LaunchUploader(mac) ? 1 : 0);
      std::printf("launch\t%d\n", upload.LaunchUploader(mac) ? 1 : 0);
      upload.StopUploader();
      continue;
    }
    if (run == L"-") {
      (void)ports.files.RemoveFile(forced);
    } else {
      wchar_t* end = nullptr;
      const unsigned long code = std::wcstoul(run.c_str(), &end, 10);
      if (end == run.c_str() || *end != L'\0') return 2;
      const std::string text = std::to_string(code) + "\n";
      if (ports.files.WriteWholeFile(forced, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                                     orv::os::CreateMode::ReplaceExisting) != 0) {
        return 2;
      }
    }
    std::printf("launch\t%d\n", upload.LaunchUploader(mac) ? 1 : 0);
    upload.StopUploader();
  }
  (void)ports.files.RemoveFile(forced);
  std::fflush(stdout);
  return 0;
}
