// The host's real XML reader over the fake file system: a file that exists only in the
// FakeFileSystem is handed to libxml2 through a private temporary copy; a path that exists on
// the real disk is read there directly.
#pragma once

#include "fakes/fake_file_system.h"
#include "os/host/xml_reader_libxml2.h"
#include "os/xml_reader.h"

namespace orv::fakes {

class FakeXmlReader final : public os::XmlReader {
 public:
  explicit FakeXmlReader(FakeFileSystem& files) : files_(files) {}

  os::XmlResult OpenFile(std::string_view path,
                         std::unique_ptr<os::XmlNodeReader>& reader) override;

  // While set, every opening fails with this system error (a file gone after its existence check).
  os::OsError openError = os::kSuccess;

 private:
  FakeFileSystem& files_;
  host::Libxml2XmlReader real_;
};

}  // namespace orv::fakes
