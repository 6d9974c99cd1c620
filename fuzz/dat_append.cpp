// The scan of an existing DAT file when a session appends to it (a session restarted within the
// hour): any file content is taken as the hour's DAT file, the writer starts on it for appending,
// and after its first records the file must be what it was, cut after its last whole record when
// a record at its end was cut off (a writer killed mid-record), followed by those records. A
// file that is no run of records is left as it was. The walk here is the file format's, kept
// apart from the writer's own.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "dat/dat_record.h"
#include "dat/dat_writer.h"
#include "fuzz_check.h"
#include "link/protocol/prompts.h"
#include "open_descriptors.h"
#include "scratch_folder.h"
#include "support/fake_clock.h"

namespace fs = std::filesystem;

namespace {

// The length of the run of whole records at the start of `bytes`; `whole` says whether the rest
// is only a record cut off at the end (true) or something that is no record at all (false).
std::size_t Walk(const std::string& bytes, bool& whole) {
  std::size_t at = 0;
  whole = true;
  while (at < bytes.size()) {
    const std::size_t left = bytes.size() - at;
    if (left < kDatHeaderLength) break;
    const auto* h = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
    const std::size_t length = h[3] == 17 ? (h[1] | static_cast<std::size_t>(h[2]) << 8) : h[1];
    if (h[0] != kDatSync || length < kDatHeaderLength) {
      whole = false;
      break;
    }
    if (left < length) break;
    at += length;
  }
  return at;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& scratch = ScratchFolder("dat-append");
  const fs::path dat = scratch / "A_6010714.dat";
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(dat, std::ios::binary | std::ios::trunc);
    out << input;
  }
  std::ofstream(scratch / "A_6010714_base.cmr", std::ios::binary | std::ios::trunc);
  bool whole = false;
  const std::size_t kept = Walk(input, whole);
  const std::string expected = whole ? input.substr(0, kept) : input;

  const std::size_t descriptors = OpenDescriptors();
  {
    CFakeClock clock;
    CQuietPrompts prompts;
    CDATWriter writer([](std::uint8_t, std::uint16_t, const std::uint8_t*, int) {}, [](const char*) {}, clock,
                      prompts);
    writer.StartDatLogging(dat.string(), true);
    Check(writer.IsActive());
    Check(ReadAll(dat) == expected);
    // A time packet: the week records (type 5, sub-types 1 and 2) follow what was kept.
    const std::uint8_t time[10] = {0x48, 0x97, 0x79, 0x40, 0x09, 0x60, 0x41, 0x90, 0x00, 0x00};
    writer.PostPacket(0x41, sizeof time, time, 1);
    writer.StopDatLogging();
  }
  Check(OpenDescriptors() == descriptors);
  const std::string after = ReadAll(dat);
  Check(after.size() == expected.size() + kDatLength5Sub1 + kDatLength5Sub2);
  Check(after.compare(0, expected.size(), expected) == 0);
  if (whole) {
    bool wholeAfter = false;
    Check(Walk(after, wholeAfter) == after.size() && wholeAfter);
  }
  return 0;
}
