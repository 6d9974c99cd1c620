// A raw packet log (".kavo") as the program reads one back. plowview --play plays it through the
// raw log player, pausing, stepping by GPS seconds and seeking as the window's playback controls
// do; plowview-replay regenerates the hour's text logs (with the DAT files) from it, as a passive
// logger session in a scratch log folder. The input is the file; its first byte picks the reader's
// chunk size, the player's speed and its moves. Every packet read stays inside the packet record,
// the player ends within a bounded number of ticks, and no descriptor is left open.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "app/raw_log_player.h"
#include "app/timer_host.h"
#include "fuzz_check.h"
#include "logger/raw_log_reader.h"
#include "open_descriptors.h"
#include "replay_session.h"
#include "scratch_folder.h"
#include "support/fake_clock.h"

namespace fs = std::filesystem;

namespace {

void CheckPacket(const KavoPacket& p) {
  Check(p.length <= kKavoMaxData);
  Check(p.rawLength <= kKavoMaxRaw);
}

class CIdleTimers final : public ITimerHost {
 public:
  void StartTimer(int, int) override { running = true; }
  void KillTimer(int) override { running = false; }
  bool running = false;
};

// The reader alone, in chunks of the size the first byte picks, then again after seeks.
void Read(const std::string& path, std::uint8_t control) {
  CRawLogReader reader(1 + control % 97);
  std::string error;
  if (!reader.Open(path, error)) return;
  KavoPacket packet;
  while (reader.Next(packet)) {
    CheckPacket(packet);
    Check(reader.Position() <= reader.Size());
  }
  for (std::uint64_t at : {reader.Size() / 3, reader.Size() / 2 + 1, reader.Size() + 5}) {
    Check(reader.Seek(at));
    Check(reader.Position() <= reader.Size());
    for (int n = 0; n < 64 && reader.Next(packet); ++n) CheckPacket(packet);
  }
}

// The player as --play drives it, every packet drained as the connection control drains it.
void Play(const std::string& path, std::uint8_t control) {
  CFakeClock clock;
  CIdleTimers timers;
  CRawLogPlayer* self = nullptr;
  CRawLogPlayer player(timers, clock,
                       {[&] {
                          CPacketBatch batch;
                          self->TakePackets(batch);
                          for (const KavoPacket& packet : batch) CheckPacket(packet);
                        },
                        nullptr, nullptr, nullptr});
  self = &player;
  std::string error;
  if (!player.Load(path, error)) return;
  static constexpr double kSpeeds[] = {0.0, 1.0, 60.0, 0.5};
  player.SetSpeed(kSpeeds[control & 3]);
  Check(player.Open(0, false));
  for (int tick = 0; tick < 4000 && !player.Ended(); ++tick) {
    clock.Advance(250);
    if (tick == 5 && (control & 0x04)) player.StepSecond();
    if (tick == 7 && (control & 0x08)) player.SeekFraction((control >> 4) / 15.0);
    if (tick == 9 && (control & 0x04)) player.Resume();
    player.OnTimer();
    const double fraction = player.Fraction();
    Check(fraction >= 0.0 && fraction <= 1.0);
  }
  CPacketBatch rest;
  player.TakePackets(rest);
  for (const KavoPacket& packet : rest) CheckPacket(packet);
  player.Close(0);
}

// Where the replay's messages go: nowhere. Opened once, before the descriptors are counted.
std::FILE* Quiet() {
  static std::FILE* quiet = std::fopen("/dev/null", "w");
  return quiet;
}

// plowview-replay --dat on the file.
void Replay(const std::string& path, const fs::path& logs, std::uint8_t control) {
  std::error_code ec;
  fs::remove_all(logs, ec);
  fs::create_directories(logs);
  ReplayOptions options;
  options.logDir = logs.string();
  options.options = (control & 0x10) ? 0x100 : 0;
  options.dat = (control & 0x20) != 0;
  CReplaySession session(options, Quiet());
  std::string error;
  session.ReplayFile(path, error);
  session.Finish();
  for (const std::string& written : session.WrittenFiles()) Check(fs::path(written).parent_path() == logs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& scratch = ScratchFolder("kavo");
  const std::string path = (scratch / "A_6010714.kavo").string();
  const std::uint8_t control = size > 0 ? data[0] : 0;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (size > 1) out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  Check(Quiet() != nullptr);
  const std::size_t descriptors = OpenDescriptors();
  Read(path, control);
  Play(path, control);
  Replay(path, scratch / "logs", control);
  Check(OpenDescriptors() == descriptors);
  return 0;
}
