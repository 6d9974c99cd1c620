#pragma once

#include <string>
#include <utility>
#include <vector>

#include "logger/log_line_context.h"

// Stands in for the logger under the formatters: records lines (without their "\n") and commands,
// with a clock the test sets.
class CRecordingContext final : public ILogLineContext {
 public:
  LoggerSession& Session() override { return session; }
  void WriteLine(const char* text) override {
    std::string line(text);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  bool SendReceiverCommand(const KavoPacket& packet, int withChecksum) override {
    sent.push_back({std::vector<std::uint8_t>{packet.id}, withChecksum});
    sent.back().first.insert(sent.back().first.end(), packet.data, packet.data + packet.length);
    return true;
  }
  double Now() const override { return now; }
  void ConfigureForLogging() override { ++configureRuns; }

  LoggerSession session;
  std::vector<std::string> lines;
  std::vector<std::pair<std::vector<std::uint8_t>, int>> sent;  // id then data, checksum flag
  double now = 100.0;
  int configureRuns = 0;
};
