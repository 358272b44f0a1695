// XML files through XmlLite's IXmlReader on a read-only SHCreateStreamOnFileW stream
// (Windows only).
//
// MinGW-w64 has no import library for xmllite.dll, and loading it from System32 by full
// search path also keeps a planted copy in the agent's folder out: CreateXmlReader is found at
// run time. Each open document holds its own reference to the DLL.
#pragma once

#include "os/xml_reader.h"

namespace orv::win32 {

class XmlLiteReader final : public os::XmlReader {
 public:
  os::XmlResult OpenFile(std::string_view path,
                         std::unique_ptr<os::XmlNodeReader>& reader) override;
};

}  // namespace orv::win32
