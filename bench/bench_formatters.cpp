// Line formatter throughput: a realistic one-second mix of receiver reports (positions,
// velocity, satellites, health, RTK, correction service, guidance) dispatched to their
// formatters, first against a context that only counts lines, then through the whole logger
// (queue, state machine, listener) in a display-only session. Reported: lines/s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "logger/logrowan.h"
#include "logger/packet_builder.h"
#include "logger/packet_dispatch.h"
#include "logger/satellite_lines.h"

namespace {

KavoPacket Packet(std::uint8_t id, const CBytes& b, std::uint8_t checksumOk = 0) {
  return MakePacket(id, b.bytes, checksumOk);
}

KavoPacket Super(CBytes b, std::size_t length) { return MakeSuperOfLength(std::move(b), length); }

// About one second of a logging receiver; every packet gives at least one line.
std::vector<KavoPacket> Mix() {
  std::vector<KavoPacket> m;
  m.push_back(Packet(0x84, CBytes().F64(0.7853).F64(-1.6123).F64(231.456).F64(12.5).F64(345600.2)));
  m.push_back(Packet(0x83, CBytes().F64(-2.5e6).F64(-4.5e6).F64(3.6e6).F64(12.5).F32(345600.2f)));
  m.push_back(Packet(0x56, CBytes().F32(1.25f).F32(-2.5f).F32(0.01f).F32(0.5f).F32(345600.2f)));
  m.push_back(Packet(0x6D, CBytes()
                               .U8(0x84)
                               .F32(1.6f)
                               .F32(0.9f)
                               .F32(1.3f)
                               .F32(0.8f)
                               .U8(2)
                               .U8(5)
                               .U8(9)
                               .U8(12)
                               .U8(15)
                               .U8(18)
                               .U8(21)
                               .U8(29)));
  m.push_back(Packet(0x46, CBytes().U8(3).U8(0x10)));
  m.push_back(Packet(0x53, CBytes().F32(11.5f).Fill(12).F32(4.75f).Fill(12)));
  {
    CBytes b;
    b.U8(0).U8(0).U32(123456).U16(42);
    b.U16(0);
    m.push_back(Packet(0x89, b, 1));
  }
  m.push_back(Super(CBytes()
                        .U8(0xA7)
                        .U8(1)
                        .U8(0)
                        .F64(345600.2)
                        .U8(3)
                        .U8(5)
                        .U8(9)
                        .U32(0x80000001)
                        .F64(0.7853)
                        .F64(-1.6123)
                        .F64(231.456)
                        .F32(0.02f)
                        .F32(0.03f)
                        .F32(0.05f)
                        .U8(33)
                        .F32(1.5f)
                        .F32(2.5f),
                    65));
  m.push_back(Super(CBytes().U8(0x9A).U16(6).U16(-5).F64(1545.25).U8(7).U8(0xAB).U8(42), 25));
  m.push_back(Super(CBytes().U8(0xA2).U8(2).U8(6).U16(17).U8(3).U8(1).F32(4.5f), 20));
  m.push_back(Super(CBytes().U8(0x82).F32(2.5f).U16(7).U16(65535).U32(12345).U8(3), 19));
  {
    CBytes n;
    n.U8(0x81).U8(4);
    for (int i = 0; i < 4; ++i) n.U16(100 + i).U8(i);
    m.push_back(Super(n, 3 * 4 + 10));
  }
  m.push_back(Super(
      CBytes().U8(0xA3).U8(0).U16(0x1234).U8(2).F32(12345.0f).F32(0.125f).Fill(16).U8(2).U32(7).U32(9), 40));
  return m;
}

class CCountingContext final : public ILogLineContext {
 public:
  LoggerSession& Session() override { return session; }
  void WriteLine(const char* text) override {
    ++lines;
    benchmark::DoNotOptimize(text);
  }
  bool SendReceiverCommand(const KavoPacket&, int) override { return true; }
  double Now() const override { return 100.0; }
  void ConfigureForLogging() override {}
  LoggerSession session;
  std::size_t lines = 0;
};

void BM_FormatterMix(benchmark::State& state) {
  const std::vector<KavoPacket> mix = Mix();
  CCountingContext context;
  context.session.dgpsMode = 1;
  for (auto _ : state)
    for (const KavoPacket& p : mix) DispatchPacket(p, context);
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(context.lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FormatterMix);

void BM_SatelliteSummary(benchmark::State& state) {
  CCountingContext context;
  context.session.lastTimeOfWeek = 345600.0;
  context.session.lastTimeStamp = 100.0;
  for (int prn = 1; prn <= 12; ++prn) {
    DispatchPacket(
        Packet(
            0x5C,
            CBytes().U8(prn).U8(prn << 3).U8(1).U8(1).F32(44.0f).F32(345599.0f).F32(0.5f).F32(1.5f).Fill(4)),
        context);
    DispatchPacket(Packet(0x85, CBytes().U8(prn).Fill(5, 0x11).F32(345590.0f).F32(1.25f).F32(0.001f).Fill(4)),
                   context);
  }
  for (auto _ : state) WriteSatelliteSummary(context);
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(context.lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SatelliteSummary);

class CNoHost final : public ILoggerHost {
 public:
  bool SendToReceiver(const KavoPacket&, int) override { return true; }
  void Disconnect() override {}
  std::string LoggingFolder() const override { return {}; }
  std::string LoggingPrefix() const override { return "BENCH"; }
};
class CFixedClock final : public IClock {
 public:
  std::int64_t NowMs() const override { return now; }
  std::int64_t now = 0;
};
class CNoPrompts final : public IPrompts {
 public:
  PromptAnswer MessageBox(const std::string&, const std::string&, PromptIcon, PromptButtons) override {
    return PromptAnswer::Ok;
  }
};
class CCountingListener final : public CLogrowanListener {
 public:
  void OnLogLine(const std::string& line) override {
    ++lines;
    benchmark::DoNotOptimize(line.data());
  }
  std::size_t lines = 0;
};

void BM_LoggerDisplayOnly(benchmark::State& state) {
  const std::vector<KavoPacket> mix = Mix();
  CNoHost host;
  CFixedClock clock;
  CNoPrompts prompts;
  CCountingListener listener;
  CLogrowan logger(host, clock, prompts);
  logger.AddListener(&listener);
  // Bring the display-only session to Logging: time packet, then the no-file open.
  logger.ProcessLogger();
  logger.QueuePacket(Packet(0x41, CBytes().F32(345600.0f).U16(1418).F32(14.0f)));
  logger.ProcessLogger();
  logger.ProcessLogger();
  listener.lines = 0;
  for (auto _ : state) {
    for (const KavoPacket& p : mix) logger.QueuePacket(p);
    logger.ProcessLogger();
  }
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(listener.lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoggerDisplayOnly);

}  // namespace

BENCHMARK_MAIN();
