#pragma once

// A logger on a fake host and clock, with the steps that take a session into its first hour, for
// the tests of the logger's DAT seam and of the program's DAT part.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "logger/logrowan.h"
#include "packet_builder.h"
#include "support/fake_clock.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

using Bytes = std::vector<std::uint8_t>;

class CDatFakeHost final : public ILoggerHost {
 public:
  bool SendToReceiver(const KavoPacket& packet, int) override {
    Bytes b{packet.id};
    b.insert(b.end(), packet.data, packet.data + packet.length);
    sent.push_back(b);
    return true;
  }
  void Disconnect() override {}
  std::string LoggingFolder() const override { return folder; }
  std::string LoggingPrefix() const override { return "FARM"; }
  std::vector<Bytes> sent;
  std::string folder;
};

// Records the logger's calls on its DAT log as text.
class CDatLogRecorder final : public IDatLog {
 public:
  explicit CDatLogRecorder(std::vector<std::string>& calls, bool wanted) : calls(calls), wanted(wanted) {}
  bool Wanted() override { return wanted; }
  void Start(const std::string& path) override { calls.push_back("start " + Name(path)); }
  void Reopen(const std::string& path) override { calls.push_back("reopen " + Name(path)); }
  void Post(const KavoPacket& packet) override { calls.push_back("post " + std::to_string(packet.id)); }
  void Stop() override { calls.push_back("stop"); }
  std::uint64_t LostBytes() const override { return lostBytes; }

  std::uint64_t lostBytes = 0;  // what the files "could not write"

 private:
  static std::string Name(const std::string& path) { return std::filesystem::path(path).filename().string(); }
  std::vector<std::string>& calls;
  bool wanted;
};

inline KavoPacket TimePacket(float timeOfWeek, int week = 1418) {
  return MakePacket(0x41, CBytes().F32(timeOfWeek).U16(week).F32(14.0f).bytes);
}
inline constexpr float kHour14 = 482419.0f;  // 16 March 2007 14:00:05 UTC
inline constexpr float kHour15 = 486019.0f;  // 15:00:05

class LogrowanDatTest : public testing::Test {
 protected:
  LogrowanDatTest() : logger(host, clock, prompts, ArchivePreviousFile) { host.folder = dir.Path().string(); }

  void Tick(std::int64_t ms = 50) {
    clock.Advance(ms);
    logger.ProcessLogger();
  }
  void StartInHour14(LogOptions options) {
    logger.StartLogging(options);
    Tick();
    logger.QueuePacket(TimePacket(kHour14));
    Tick();
    Tick();
    if (!(options & kLogPassive)) {
      Tick();
      Tick(10'100);
      Tick();
    }
    ASSERT_EQ(logger.State(), LogState::Logging);
  }
  std::string PathOf(const std::string& name) const { return (dir.Path() / name).string(); }
  std::size_t CountSentWithId(std::uint8_t id) const {
    std::size_t n = 0;
    for (const Bytes& b : host.sent) n += b[0] == id ? 1 : 0;
    return n;
  }

  CTempDir dir;
  CDatFakeHost host;
  CFakeClock clock;
  CPromptRecorder prompts;
  CLogrowan logger;
  std::vector<std::string> calls;
};
