#pragma once

#include <cstddef>

// Size of a log line buffer, terminating NUL included.
inline constexpr std::size_t kLogLineMax = 220;

// Formats into `buffer` (at least kLogLineMax bytes) and returns the character count. A result
// that does not fit is replaced by "* %c String contained bad data" with the line code (the first
// character formatted) and 1 is returned.
int FormatLine(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));

// One line being built from several formatted pieces, bounded to `capacity` bytes (at most
// kLogLineMax). Once a piece does not fit, the whole line becomes the bad-data note and later
// pieces are ignored, so a long line is never cut in the middle of a value.
class CLogLine {
 public:
  explicit CLogLine(std::size_t capacity = kLogLineMax);

  // Appends one formatted piece; false when the line has overflowed (now or before).
  bool Append(const char* format, ...) __attribute__((format(printf, 2, 3)));

  const char* Text() const { return text; }
  std::size_t Length() const { return count; }
  bool Overflowed() const { return overflowed; }

 private:
  char text[kLogLineMax] = {};
  std::size_t capacity;
  std::size_t count = 0;
  bool overflowed = false;
};
