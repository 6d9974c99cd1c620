// The remote file server on any request stream (names included) against a scratch card folder.
// Beside the folder lies a file the receiver must never see and links inside point out of the
// folder, under names that match others without regard to case (as the card matches them): after
// every input nothing outside may have changed, and no answer may carry the outside file's text.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "files/remote_file_server.h"
#include "fuzz_check.h"
#include "fuzz_packets.h"
#include "open_descriptors.h"

namespace fs = std::filesystem;

namespace {

constexpr char kSecret[] = "OUTSIDE-THE-CARD";

const fs::path& Scratch() {
  static const fs::path scratch = [] {
    fs::path p = fs::temp_directory_path() / ("plowview-fuzz-rfs-" + std::to_string(getpid()));
    fs::create_directories(p);
    std::ofstream(p / "secret.txt") << kSecret;
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(Scratch(), ec);
    });
    return p;
  }();
  return scratch;
}

void ResetCard(const fs::path& card) {
  std::error_code ec;
  fs::remove_all(card, ec);
  fs::create_directories(card / "SUB");
  fs::create_directories(card / "sub");
  std::ofstream(card / "LOG.T02") << "receiver data 0123456789";
  std::ofstream(card / "log.t02") << "the same name on the card";
  std::ofstream(card / "SUB" / "A.DAT") << "more";
  std::ofstream(card / "sub" / "a.dat") << "and more";
  std::ofstream(card / "README") << "no dot";
  fs::create_symlink("../secret.txt", card / "LINK.TXT", ec);
  fs::create_symlink("../secret.txt", card / "Link.txt", ec);
  fs::create_directory_symlink("..", card / "UP", ec);
  fs::create_directory_symlink("..", card / "up", ec);
}

bool OutsideUntouched(const fs::path& scratch) {
  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(scratch)) {
    (void)entry;
    ++entries;
  }
  std::ifstream in(scratch / "secret.txt");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return entries == 2 && text == kSecret;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& scratch = Scratch();
  const fs::path card = scratch / "card";
  ResetCard(card);
  const std::size_t descriptors = OpenDescriptors();
  {
    CRemoteFileServer server(card, [](const KavoPacket& answer) {
      Check(answer.length <= kKavoMaxData);
      const auto* end = answer.data + answer.length;
      Check(std::search(answer.data, end, kSecret, kSecret + sizeof kSecret - 1) == end);
    });
    ForEachPacket(data, size, [&](const KavoPacket& packet) {
      server.QueueRequest(packet);
      server.ProcessRequests();
    });
  }
  Check(OpenDescriptors() == descriptors);
  Check(OutsideUntouched(scratch));
  return 0;
}
