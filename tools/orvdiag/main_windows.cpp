// orvdiag.exe: UTF-16 arguments made UTF-8, and standard output in binary mode, so that the
// CR LF of the entry reach the reader unchanged (text mode would make them CR CR LF).
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "orvdiag/orvdiag.h"
#include "platform/text_encoding.h"

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg(argv[i]);
    args.push_back(orv::Utf16ToUtf8(std::u16string(arg.begin(), arg.end())));
  }
  return orv::diag::OrvdiagMain(args);
}
