// The logger's formatters on any packet stream: every packet goes to the dispatch (which routes
// it to its line formatter) and to the configuration report, as a logging session does. The
// options word and the session's time come from the stream itself (the time packet sets it).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_packets.h"
#include "logger/config_report.h"
#include "logger/log_line_context.h"
#include "logger/packet_dispatch.h"
#include "logger/satellite_lines.h"

namespace {

// Takes the lines and commands and checks that each line is a proper, bounded C string.
class CFuzzContext final : public ILogLineContext {
 public:
  LoggerSession& Session() override { return session; }
  void WriteLine(const char* text) override {
    if (std::strlen(text) > 64 * 1024) std::abort();
    ++lines;
  }
  bool SendReceiverCommand(const KavoPacket& packet, int /*withChecksum*/) override {
    if (packet.length > kKavoMaxData) std::abort();
    return true;
  }
  double Now() const override { return now; }
  void ConfigureForLogging() override {}

  LoggerSession session;
  std::size_t lines = 0;
  double now = 1000.0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CFuzzContext context;
  // Every option but the passive one, so that the formatters that answer with requests do.
  context.session.options = 0xFFFFFFFFu & ~kLogPassive;
  context.session.state = LogState::Logging;
  CConfigurationReport report;
  report.RequestConfiguration(context);
  std::size_t packets = 0;
  ForEachPacket(data, size, [&](const KavoPacket& packet) {
    context.now += 0.25;
    DispatchPacket(packet, context);
    report.ReadConfigurationPacket(packet, context);
    // The logger's five-second summary of what the satellite packets left behind.
    if (++packets % 16 == 0) WriteSatelliteSummary(context);
  });
  WriteSatelliteSummary(context);
  return 0;
}
