#include "logger/raw_packet_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "packet_builder.h"
#include "support/file_size_limit.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

KavoPacket Received(std::uint8_t id, const std::vector<std::uint8_t>& data) {
  KavoPacket p = MakePacket(id, data);
  BuildFrame(p, p.raw, p.rawLength, 0);
  return p;
}

std::string FrameText(const KavoPacket& p) {
  return std::string(reinterpret_cast<const char*>(p.raw), p.rawLength);
}

TEST(RawPacketLogTest, FramesBackToBackExactly_AndRestartedHourAppends) {
  CTempDir dir;
  CPromptRecorder prompts;
  const std::string path = dir / "FARM7031614.kavo";
  // A payload with DLE bytes: the file keeps the stuffed wire image, not the payload.
  const KavoPacket a = Received(0x41, {0x10, 0x03, 0x10, 1, 2});
  const KavoPacket b = Received(0x8F, {0x93, 0x14, 0x00});
  {
    CRawPacketLog log(prompts);
    ASSERT_TRUE(log.Open(path));
    log.Write(a);
    log.Write(b);
  }
  CRawPacketLog log(prompts);
  ASSERT_TRUE(log.Open(path));
  log.Write(a);
  log.Close();
  log.Write(b);  // closed: nothing
  EXPECT_EQ(ReadWholeFile(path), FrameText(a) + FrameText(b) + FrameText(a));
  EXPECT_EQ(FrameText(a).substr(0, 4), std::string("\x10\x41\x10\x10", 4));
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST(RawPacketLogTest, OpenFailure_OneMessageAndLoggingGoesOnWithoutFile) {
  CTempDir dir;
  CPromptRecorder prompts;
  CRawPacketLog log(prompts);
  const std::string path = dir / "missing/FARM7031614.kavo";
  EXPECT_FALSE(log.Open(path));
  EXPECT_TRUE(log.Opened());
  EXPECT_FALSE(log.IsOpen());
  log.Write(Received(0x41, {1, 2, 3}));
  ASSERT_EQ(prompts.Texts().size(), 1u);
  EXPECT_EQ(prompts.Texts()[0], "Failed to open KAVO logging file '" + path + "'\n");
}

// A full disk: a frame the file cannot take whole is lost whole (its written part cut away), the
// first failure is told once, the bytes lost are counted, and the file goes on once there is room.
TEST(RawPacketLogTest, DiskFull_FramesLostWholeToldOnceCountedAndWritingGoesOn) {
  CTempDir dir;
  CPromptRecorder prompts;
  const std::string path = dir / "FARM7031614.kavo";
  const KavoPacket a = Received(0x41, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  const KavoPacket b = Received(0x53, std::vector<std::uint8_t>(32, 0x20));
  CRawPacketLog log(prompts);
  ASSERT_TRUE(log.Open(path));
  log.Write(a);
  {
    CFileSizeLimit full(a.rawLength + 5u);
    log.Write(b);  // 5 bytes fit: cut away again
    log.Write(a);
  }
  EXPECT_EQ(ReadWholeFile(path), FrameText(a));
  log.Write(b);
  EXPECT_EQ(ReadWholeFile(path), FrameText(a) + FrameText(b));
  EXPECT_EQ(log.LostBytes(), std::uint64_t{b.rawLength} + a.rawLength);
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"cannot write " + path + ": File too large"}));

  // The next hour's file starts counting afresh and tells its own first failure.
  const std::string full = dir / "FARM7031615.kavo";
  std::filesystem::create_symlink("/dev/full", full);
  ASSERT_TRUE(log.Open(full));
  EXPECT_EQ(log.LostBytes(), 0u);
  log.Write(a);
  log.Write(a);
  EXPECT_EQ(log.LostBytes(), 2u * a.rawLength);
  ASSERT_EQ(prompts.Texts().size(), 2u);
  EXPECT_EQ(prompts.Texts()[1], "cannot write " + full + ": No space left on device");
  EXPECT_TRUE(log.IsOpen());
}

}  // namespace
