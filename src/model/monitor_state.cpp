#include "model/monitor_state.h"

#include <cstddef>

#include "platform/decimal_text.h"

namespace orv {
namespace {

// A field ends at the first "]", so a text holding one (a user may name a backup task
// "a]b") would cut its field short and shift every later field, and the row could never be
// read back as written. Such a "]" is written as the look-alike U+FF3D "］" instead: the
// text reads back stable, the fields after it stay intact, and every row without a "]"
// stays byte for byte what earlier agents wrote. A NUL is dropped: the registry ends a
// string at it, and in a list it would split the row or end the list early.
void AppendRowText(std::string& row, std::string_view text) {
  for (const char c : text) {
    if (c == ']') {
      row += "\xEF\xBC\xBD";
    } else if (c != '\0') {
      row += c;
    }
  }
}

void AppendField(std::string& row, std::string_view text) {
  row += '[';
  AppendRowText(row, text);
  row += ']';
}

void AppendField(std::string& row, std::int32_t number) {
  row += '[';
  row += std::to_string(number);
  row += ']';
}

// Walks a row field by field with the agent's reading rule. Once no "]" is left the rest
// stays put, so every further field reads as empty.
class FieldReader {
 public:
  explicit FieldReader(std::string_view row) : rest_(row) {}

  std::string_view NextText() {
    const std::size_t open = rest_.find('[');
    const std::size_t close = rest_.find(']');
    const std::ptrdiff_t a = open == std::string_view::npos ? -1 : static_cast<std::ptrdiff_t>(open);
    const std::ptrdiff_t b =
        close == std::string_view::npos ? -1 : static_cast<std::ptrdiff_t>(close);
    const std::ptrdiff_t start = a + 1 < 0 ? 0 : a + 1;
    const std::ptrdiff_t length = b - a - 1;
    std::string_view field;
    // start + length == b here, which lies inside the text.
    if (length > 0) {
      field = rest_.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
    }
    if (close != std::string_view::npos) rest_.remove_prefix(close + 1);
    return field;
  }

  std::int32_t NextNumber() { return ParseDecimal(NextText()); }

 private:
  std::string_view rest_;
};

}  // namespace

std::string RowText(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  AppendRowText(kept, text);
  return kept;
}

std::string FormatStateRow(const MonitorState& entry) {
  std::string row;
  AppendField(row, entry.act_id);
  AppendField(row, entry.act_sts);
  AppendField(row, entry.act_trg);
  AppendField(row, entry.act_para);
  AppendField(row, entry.msg);
  AppendField(row, entry.item_key);
  AppendField(row, entry.item_code);
  return row;
}

void ParseStateRow(std::string_view row, MonitorState& entry) {
  FieldReader reader(row);
  entry.act_id = reader.NextNumber();
  entry.act_sts = reader.NextNumber();
  entry.act_trg = reader.NextText();
  entry.act_para = reader.NextText();
  entry.msg = reader.NextText();
  entry.item_key = reader.NextText();
  entry.item_code = reader.NextNumber();
}

std::string FormatPairRow(std::string_view a, std::string_view b) {
  std::string row;
  AppendField(row, a);
  AppendField(row, b);
  return row;
}

void ParsePairRow(std::string_view row, std::string& a, std::string& b) {
  FieldReader reader(row);
  a = reader.NextText();
  b = reader.NextText();
}

std::string FormatFiveTextRow(const FiveTexts& texts) {
  std::string row;
  for (const std::string& text : texts) AppendField(row, text);
  return row;
}

void ParseFiveTextRow(std::string_view row, FiveTexts& texts) {
  FieldReader reader(row);
  for (std::string& text : texts) text = reader.NextText();
}

}  // namespace orv
