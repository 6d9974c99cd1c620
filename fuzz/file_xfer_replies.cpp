// The file transfer on any reply stream: the engine lists, downloads (into a scratch folder) and
// deletes as a user would, one action after each reply once it is idle, and the watchdog ticks
// between replies. Nothing may be written outside the download folder.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "files/file_xfer_engine.h"
#include "fuzz_check.h"
#include "fuzz_packets.h"
#include "open_descriptors.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& scratch = ScratchFolder("xfer");
  const fs::path folder = scratch / "downloads";
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder);
  const std::size_t descriptors = OpenDescriptors();
  {
    CFileXferEngine engine([] { return true; },
                           [](const KavoPacket& request) { Check(request.length <= kKavoMaxData); });
    engine.SetDownloadFolder(folder.string());
    engine.SetDeleteWhenDone(size % 3 != 0);
    engine.Refresh();
    std::size_t replies = 0;
    ForEachPacket(data, size, [&](const KavoPacket& packet) {
      engine.OnPacket(packet);
      ++replies;
      // The reply's id byte also steers the user: ticks of the watchdog, then an action.
      for (int i = 0; i < (packet.id & 0x0F); ++i) engine.Tick();
      if (engine.IsBusy() || engine.Entries().empty()) return;
      std::vector<int> selected;
      for (int i = 0; i < static_cast<int>(engine.Entries().size()) && i < 4; ++i) selected.push_back(i);
      selected.push_back(-1);
      selected.push_back(static_cast<int>(engine.Entries().size()));
      switch (replies % 4) {
        case 0:
          engine.GetFiles(selected);
          break;
        case 1:
          engine.DeleteFiles(selected);
          break;
        case 2:
          engine.Cancel();
          break;
        default:
          engine.MatchingEntries("*.T0?");
          break;
      }
    });
    for (int i = 0; i < 100; ++i) engine.Tick();
    for (const FileXferProgress& p : engine.Progress()) Check(p.received <= 0xFFFFFFFFu);
  }
  Check(OpenDescriptors() == descriptors);
  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(scratch)) {
    (void)entry;
    ++entries;
  }
  Check(entries == 1);
  return 0;
}
