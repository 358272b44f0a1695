#include "model/adapter_entry.h"

namespace orv {

std::string CounterInstanceName(const AdapterEntry& adapter) {
  std::string name = adapter.description;
  for (char& c : name) {
    if (c == '(') c = '[';
    else if (c == ')') c = ']';
    else if (c == '#') c = '_';
  }
  return name;
}

}  // namespace orv
