#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/protocol/clock.h"
#include "link/protocol/kavo_packet.h"
#include "link/protocol/prompts.h"
#include "logger/archive_profile.h"
#include "logger/log_archiver.h"
#include "logger/logrowan.h"
#include "replay_options.h"

// One passive logging session over recorded packets. The logger runs as in a live session, with
// three differences that make it a replay: its clock follows the time packets of the stream
// (no waiting: a packet is handled as soon as it is read), nothing it sends goes anywhere, and the
// packets that come before the first time packet are held back and handed over right after it,
// so they land in that first hour instead of being dropped while the logger waits for the time.
//
// Single-threaded, apart from the archiving workers the logger starts for closed hours.
class CSettingsProfile;

class CReplaySession final : private ILoggerHost, private IClock, private IPrompts {
 public:
  // `errors` receives the logger's messages ("plowview-replay: TEXT").
  CReplaySession(const ReplayOptions& options, std::FILE* errors);
  ~CReplaySession() override;
  CReplaySession(const CReplaySession&) = delete;
  CReplaySession& operator=(const CReplaySession&) = delete;

  // Reads one raw packet log to its end. False with `error` set when it cannot be read; a frame
  // cut off at the end of the file is dropped.
  bool ReplayFile(const std::string& path, std::string& error);
  // Ends the session (the last file is closed as a disconnect closes it) and waits for the
  // archiving of the closed hours.
  void Finish();

  // The log files written, in the order they were opened, each once.
  const std::vector<std::string>& WrittenFiles() const { return written; }
  // The logger gave up: a log file could not be opened.
  bool Failed() const { return failed; }
  // Some of what the replay wrote could not be written (a full disk): said as it happened, the
  // rest written all the same. Known once Finish has run.
  bool WriteFailed() const { return writeFailed; }
  std::uint64_t Packets() const { return packets; }
  std::uint64_t DroppedBeforeTime() const { return droppedBeforeTime; }

 private:
  // Packets held while no time is known; beyond this the oldest are dropped.
  static constexpr std::size_t kMaxHeld = 4096;

  void HandlePacket(const KavoPacket& packet);
  void Feed(const KavoPacket& packet);
  void NoteCurrentFile();

  // ILoggerHost
  bool SendToReceiver(const KavoPacket&, int) override { return false; }
  void Disconnect() override { failed = true; }
  std::string LoggingFolder() const override { return logDir; }
  std::string LoggingPrefix() const override { return prefix; }
  // IClock: milliseconds of GPS time from the last time packet.
  std::int64_t NowMs() const override { return clockMs; }
  // IPrompts
  PromptAnswer MessageBox(const std::string& text, const std::string&, PromptIcon, PromptButtons) override;

  // Counts the archiving workers still running, so that the program does not end under them.
  struct ArchiveTracker {
    std::mutex lock;
    std::condition_variable done;
    int finished = 0;
  };

  std::string logDir;
  std::string prefix;
  std::FILE* errors;
  std::shared_ptr<ArchiveTracker> tracker;
  // --archive: the program's archiver on the settings file (declared before the logger, so the
  // logger, which starts its workers, goes first).
  std::unique_ptr<CSettingsProfile> settingsProfile;
  std::unique_ptr<CLogArchiver> archiver;
  std::unique_ptr<CLogrowan> logger;
  KavoPacket packet;  // reused for every packet popped from the parser
  std::deque<KavoPacket> held;
  bool timeSeen = false;
  std::int64_t clockMs = 0;
  bool failed = false;
  bool writeFailed = false;
  bool finished = false;
  int closedFiles = 0;
  std::vector<std::string> written;
  std::string currentPath;
  std::uint64_t packets = 0;
  std::uint64_t droppedBeforeTime = 0;
};
