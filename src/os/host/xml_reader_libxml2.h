// XML files through libxml2's pull reader (xmlTextReader), for the host tests and fuzzers.
//
// It gives the node sequence XmlLite gives on Windows: <a/> is one element with no end node,
// whitespace-only text is Other, a DTD is refused, and any error libxml2 reports (namespace
// errors included, which it would otherwise only warn about) makes the document malformed.
// Failures are HRESULT-like: system errors as HRESULT_FROM_WIN32, libxml2's own error numbers
// as 0xA000xxxx (the customer bit marks them as ours).
#pragma once

#include "os/xml_reader.h"

namespace orv::host {

class Libxml2XmlReader final : public os::XmlReader {
 public:
  Libxml2XmlReader();

  os::XmlResult OpenFile(std::string_view path,
                         std::unique_ptr<os::XmlNodeReader>& reader) override;
};

}  // namespace orv::host
