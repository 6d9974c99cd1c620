#pragma once

#include <string>

#include "link/protocol/prompts.h"
#include "logger/logger_seams.h"

// The ".kavo" raw packet log: every frame the logger takes from its queue, exactly as it arrived
// on the link, back to back with no header, separator or time stamp. One file per log hour beside
// the text log; a restarted hour appends to its file.
//
// Logger thread only. `prompts` must outlive the object.
class CRawPacketLog final : public IRawPacketLog {
 public:
  explicit CRawPacketLog(IPrompts& prompts);
  ~CRawPacketLog() override;
  CRawPacketLog(const CRawPacketLog&) = delete;
  CRawPacketLog& operator=(const CRawPacketLog&) = delete;

  // Closes any open file and opens `path` for appending (created when missing, never truncated).
  // On failure shows "Failed to open KAVO logging file '%s'\n" once and stays closed until the next
  // Open; the caller goes on logging without the file.
  bool Open(const std::string& path) override;
  void Close() override;
  // Appends the packet's received frame (raw, rawLength); nothing when no file is open or the
  // packet carries no frame. A frame the file cannot take (a full disk) is lost whole: the part
  // that made it is cut away again, so the file stays a clean run of frames; the file stays open
  // and the next frame tries again. The first such failure of a file is told once through the
  // prompts' Notify ("cannot write PATH: REASON").
  void Write(const KavoPacket& packet) override;
  std::uint64_t LostBytes() const override { return lostBytes; }

  bool IsOpen() const { return fd >= 0; }
  // Set by every Open attempt, cleared by Close.
  bool Opened() const { return opened; }

 private:
  IPrompts& prompts;
  int fd = -1;
  bool opened = false;
  std::string path;
  std::uint64_t lostBytes = 0;
  bool failureTold = false;
};
