// The receiver's raw measurement stream (super-packets 8F 93 14: name and data records) into the
// raw measurement writer, whose folder is a scratch folder beside a file it must never touch.
// After every input nothing outside the folder has changed, no descriptor is left open, every log
// line fits a log line, and the writer keeps to its contract: a refused name (a separator, "." or
// "..", empty) leaves no file open, and while no file is open nothing in the folder grows.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "fuzz_check.h"
#include "fuzz_packets.h"
#include "logger/packet_dispatch.h"
#include "logger/q0x_writer.h"
#include "open_descriptors.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr char kKeep[] = "BESIDE-THE-FOLDER";

std::uintmax_t FolderBytes(const fs::path& folder) {
  std::uintmax_t total = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file(ec)) total += entry.file_size(ec);
  return total;
}

// The name a name record carries, when the packet is one the writer reads as a name record.
bool NameRecord(const KavoPacket& p, std::string& name) {
  if (p.id != 0x8F || p.length < 5 || p.data[0] != 0x93 || p.data[1] != 0x14 || p.data[2] != 2) return false;
  const std::size_t end = p.length - 2u;
  const auto* start = reinterpret_cast<const char*>(p.data + 4);
  const std::size_t available = end > 4 ? end - 4 : 0;
  name.assign(start, strnlen(start, available));
  return true;
}

bool Refused(const std::string& name) {
  return name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& scratch = ScratchFolder("q0x");
  const fs::path folder = scratch / "logs";
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder);
  if (!fs::exists(scratch / "keep.txt")) std::ofstream(scratch / "keep.txt") << kKeep;
  const std::size_t descriptors = OpenDescriptors();
  {
    CQ0xWriter writer([](const KavoPacket& p, int) { return p.length <= kKavoMaxData; },
                      [](const char* line) { Check(line != nullptr && std::strlen(line) < 220); });
    writer.SetFolder(folder.string());
    writer.ResetPacketCount();
    std::uint64_t packets = 0;
    ForEachPacket(data, size, [&](const KavoPacket& packet) {
      const std::uintmax_t before = FolderBytes(folder);
      const bool wasOpen = writer.IsOpen();
      writer.TakePacket(packet);
      std::string name;
      // Only a packet that passes the writer's own tests (the checksums) counts as a name record;
      // a refused one must end whatever file was open, so the next file's data cannot join it.
      if (NameRecord(packet, name) && packet.checksumOk && SuperPacketChecksumOk(packet) && Refused(name))
        Check(!writer.IsOpen());
      if (!wasOpen && !writer.IsOpen()) Check(FolderBytes(folder) == before);
      if (++packets % 200 == 0) writer.StopStream();
    });
    writer.Close();
  }
  Check(OpenDescriptors() == descriptors);
  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(scratch)) entries += entry.path().filename() != "logs";
  Check(entries == 1);
  std::ifstream in(scratch / "keep.txt");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Check(text == kKeep);
  return 0;
}
