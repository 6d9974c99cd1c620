// The DAT writer on any packet stream: a session into scratch files, every packet posted with
// the parser's checksum verdict, the clock half a second on per packet (so the waits' deadlines
// pass and requests go out again), and a switch to a new file pair now and then as at the turn
// of the hour.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "dat/dat_writer.h"
#include "fuzz_check.h"
#include "fuzz_packets.h"
#include "link/protocol/prompts.h"
#include "open_descriptors.h"
#include "scratch_folder.h"
#include "support/fake_clock.h"

namespace fs = std::filesystem;

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& scratch = ScratchFolder("dat");
  const std::size_t descriptors = OpenDescriptors();
  CFakeClock clock;
  CQuietPrompts prompts;
  CDATWriter writer([](std::uint8_t, std::uint16_t length, const std::uint8_t* bytes,
                       int) { Check(length <= kKavoMaxData && (length == 0 || bytes != nullptr)); },
                    [](const char* text) { Check(text != nullptr); }, clock, prompts,
                    [](const char* line) { Check(line != nullptr); });
  writer.StartDatLogging((scratch / "a.dat").string());
  std::size_t posted = 0;
  ForEachPacket(data, size, [&](const KavoPacket& packet) {
    clock.Advance(500);
    writer.PostPacket(packet.id, packet.length, packet.data, packet.checksumOk);
    Check(writer.DatStep() >= 0 && writer.DatStep() <= CDATWriter::kSteadyState);
    if (++posted % 64 == 0) writer.ReopenDatFile((scratch / (posted % 128 ? "b.dat" : "a.dat")).string());
  });
  writer.StopDatLogging();
  Check(OpenDescriptors() == descriptors);
  return 0;
}
