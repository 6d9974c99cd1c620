#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "logger/packet_dispatch.h"
#include "packet_builder.h"
#include "recording_context.h"

// One table row: a packet through DispatchPacket, the exact lines that must come out.
struct LineCase {
  std::string name;
  KavoPacket packet;
  std::vector<std::string> lines;
  std::function<void(LoggerSession&)> setup = nullptr;
};

inline std::ostream& operator<<(std::ostream& os, const LineCase& c) {
  return os << c.name;
}

inline std::vector<std::string> RunLineCase(const LineCase& c) {
  CRecordingContext context;
  context.session.dgpsMode = 1;
  if (c.setup) c.setup(context.session);
  DispatchPacket(c.packet, context);
  return context.lines;
}

inline std::string CaseName(const testing::TestParamInfo<LineCase>& info) {
  return info.param.name;
}
