// Pull reading of XML files: the event definition file the cloud hands the agent.
//
// Vocabulary: a node reader walks a document one node at a time, in document order, the way
// XmlLite does. An element written as <a/> is a single ElementStart with isEmptyElement set and
// no ElementEnd after it. Whitespace-only text, comments, CDATA sections, processing
// instructions and the XML declaration all read as Other. A document with a DTD is refused (the
// file comes from outside: nothing in it may expand entities or reach the network). The bounds
// below are the readers' own (libxml2's, XmlLite's differ), enforced alike so that every reader
// gives the same nodes and memory stays bounded.
//
// Results are HRESULT-like, as XmlLite returns them and as the agent keeps them: 0 success,
// 1 (S_FALSE) "nothing there" (end of document, no attribute), negative a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "os/os_error.h"

namespace orv::os {

using XmlResult = std::int32_t;

inline constexpr XmlResult kXmlOk = 0;
inline constexpr XmlResult kXmlFalse = 1;  // S_FALSE
inline constexpr XmlResult kXmlFail = static_cast<XmlResult>(0x80004005);         // E_FAIL
inline constexpr XmlResult kXmlOutOfMemory = static_cast<XmlResult>(0x8007000E);  // E_OUTOFMEMORY
inline constexpr XmlResult kXmlDtdProhibited = static_cast<XmlResult>(0xC00CEE4F);  // WC_E_DTDPROHIBITED
inline constexpr XmlResult kXmlTooDeep = static_cast<XmlResult>(0xC00CEE81);  // SC_E_MAXELEMENTDEPTH
// An element inside this many open ones (an empty element counts) makes the document malformed.
inline constexpr std::uint32_t kXmlMaxDepth = 256;
// A text node longer than this many UTF-8 bytes makes the document malformed (libxml2's bound).
inline constexpr std::size_t kXmlMaxTextLength = 10'000'000;

constexpr bool XmlFailed(XmlResult result) { return result < 0; }

// A system error code as an XmlResult (HRESULT_FROM_WIN32).
constexpr XmlResult XmlResultFromOsError(OsError code) {
  return code == kSuccess ? kXmlOk : static_cast<XmlResult>(0x80070000U | (code & 0xFFFFU));
}

enum class XmlNodeKind : std::uint8_t { ElementStart, Text, ElementEnd, Other };

struct XmlNode {
  XmlNodeKind kind = XmlNodeKind::Other;
  bool isEmptyElement = false;  // ElementStart written as <name/>: no ElementEnd follows
};

// One open document. Its names and values are UTF-8.
class XmlNodeReader {
 public:
  virtual ~XmlNodeReader() = default;

  // Moves to the next node: kXmlOk with `node` set, kXmlFalse at the end of the document, a
  // negative code when the document is malformed or unreadable (every later call fails too).
  virtual XmlResult Read(XmlNode& node) = 0;
  // The local name (no prefix) of the current element or attribute; `name` unchanged on failure.
  virtual XmlResult LocalName(std::string& name) = 0;
  // The value of the current text node or attribute; `value` unchanged on failure.
  virtual XmlResult Value(std::string& value) = 0;
  // From the current element to its first attribute (namespace declarations do not count):
  // kXmlOk when moved, kXmlFalse when it has none, negative on failure (position unchanged
  // unless kXmlOk). The next Read continues after the element either way.
  virtual XmlResult MoveToFirstAttribute() = 0;
};

class XmlReader {
 public:
  virtual ~XmlReader() = default;

  // Opens the file at `path` read-only and sets up a node reader on it: kXmlOk with `reader`
  // set, or the negative code of the first step that failed with `reader` left empty.
  virtual XmlResult OpenFile(std::string_view path, std::unique_ptr<XmlNodeReader>& reader) = 0;
};

}  // namespace orv::os
