#pragma once

#include <string>

// Receives every finished log line, "\n" included, on the logger's thread, in registration order.
class CLogrowanListener {
 public:
  virtual ~CLogrowanListener() = default;
  virtual void OnLogLine(const std::string& line) = 0;
};
