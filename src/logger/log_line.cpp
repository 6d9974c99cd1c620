#include "logger/log_line.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr const char* kBadDataFormat = "* %c String contained bad data";

}  // namespace

int FormatLine(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, kLogLineMax, format, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= kLogLineMax) {
    const char code = buffer[0];
    std::snprintf(buffer, kLogLineMax, kBadDataFormat, code);
    return 1;
  }
  return n;
}

CLogLine::CLogLine(std::size_t capacity) : capacity(std::clamp<std::size_t>(capacity, 2, kLogLineMax)) {}

bool CLogLine::Append(const char* format, ...) {
  if (overflowed) return false;
  const std::size_t room = capacity - count;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text + count, room, format, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= room) {
    const char code = text[0];
    const int note = std::snprintf(text, capacity, kBadDataFormat, code);
    count = note < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(note), capacity - 1);
    overflowed = true;
    return false;
  }
  count += static_cast<std::size_t>(n);
  return true;
}
