// printf-style formatting into a std::string, whatever the length: the monitors' and the
// messages' texts carry serial numbers and model texts whose length the agent does not choose.
#pragma once

#include <string>

namespace orv {

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orv
