#include "replay_session.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "app/dat_log_part.h"
#include "app/dat_trace.h"
#include "app/settings_profile.h"
#include "logger/raw_log_reader.h"

namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr int kMaxStepsPerPacket = 64;  // state changes between two packets are few; a bound all the same
constexpr auto kArchiveWait = std::chrono::minutes(10);
// A replay is a batch job: lines go to the file in large writes, not one write each.
constexpr std::size_t kLogFileBuffer = 256 * 1024;

}  // namespace

CReplaySession::CReplaySession(const ReplayOptions& options, std::FILE* errorStream)
    : logDir(options.logDir), prefix(options.prefix), errors(errorStream) {
  ArchiveFunction archive;
  if (options.archive) {
    settingsProfile = std::make_unique<CSettingsProfile>(options.configPath.empty()
                                                             ? CSettingsProfile::DefaultPath()
                                                             : std::filesystem::path(options.configPath));
    archiver = std::make_unique<CLogArchiver>(*settingsProfile, static_cast<IPrompts&>(*this));
    tracker = std::make_shared<ArchiveTracker>();
    archive = [t = tracker, chain = archiver->Function()](const ClosedLogFile& closed) {
      const int result = chain(closed);
      std::lock_guard<std::mutex> hold(t->lock);
      ++t->finished;
      t->done.notify_all();
      return result;
    };
  }
  logger = std::make_unique<CLogrowan>(static_cast<ILoggerHost&>(*this), static_cast<const IClock&>(*this),
                                       static_cast<IPrompts&>(*this), archive);
  logger->SetLogFileBuffer(kLogFileBuffer);
  if (options.dat)
    logger->SetDatLog(MakeDatLogPart(
        *logger, static_cast<IPrompts&>(*this), [] { return true; }, MakeDatTrace(false)));
  logger->StartLogging(options.options | kLogPassive);
  // The first step asks for the time (sent nowhere) and waits for it.
  logger->ProcessLogger();
}

CReplaySession::~CReplaySession() {
  Finish();
}

PromptAnswer CReplaySession::MessageBox(const std::string& text, const std::string&, PromptIcon,
                                        PromptButtons) {
  std::fprintf(errors, "plowview-replay: %s\n", text.c_str());
  return PromptAnswer::Ok;
}

bool CReplaySession::ReplayFile(const std::string& path, std::string& error) {
  // A reader of its own per file: the bytes of a frame cut off at the end of one file must not
  // join the next file's first frame.
  CRawLogReader reader(kReadChunk);
  if (!reader.Open(path, error)) return false;
  // The frames the reader's parser threw away go to the hour manifest as a live link's do, each
  // before the packet that followed it.
  std::uint64_t dropsPassed = 0;
  auto passDrops = [&] {
    const std::uint64_t drops = reader.DroppedFrames();
    if (drops > dropsPassed && !failed) logger->NoteDroppedFrames(drops - dropsPassed);
    dropsPassed = drops;
  };
  while (!failed && reader.Next(packet)) {
    passDrops();
    HandlePacket(packet);
  }
  passDrops();
  if (!reader.Error().empty()) {
    error = reader.Error();
    return false;
  }
  return true;
}

void CReplaySession::HandlePacket(const KavoPacket& p) {
  ++packets;
  const std::int64_t gpsMs = TimePacketGpsMs(p);
  // The clock follows the stream and never runs backwards.
  if (gpsMs >= 0) clockMs = std::max(clockMs, gpsMs);
  if (timeSeen) {
    Feed(p);
    return;
  }
  if (gpsMs < 0) {
    if (held.size() >= kMaxHeld) {
      held.pop_front();
      ++droppedBeforeTime;
    }
    held.push_back(p);
    return;
  }
  timeSeen = true;
  Feed(p);
  while (!held.empty() && !failed) {
    Feed(held.front());
    held.pop_front();
  }
  held.clear();
}

void CReplaySession::Feed(const KavoPacket& p) {
  if (failed) return;
  logger->QueuePacket(p);
  for (int step = 0; step < kMaxStepsPerPacket && logger->QueuedPackets() > 0 && !failed; ++step) {
    logger->ProcessLogger();
    NoteCurrentFile();
  }
}

void CReplaySession::NoteCurrentFile() {
  const std::string& path = logger->CurrentLogPath();
  if (path.empty() || path == currentPath) return;
  if (!currentPath.empty()) ++closedFiles;
  currentPath = path;
  if (std::find(written.begin(), written.end(), path) == written.end()) written.push_back(path);
}

void CReplaySession::Finish() {
  if (finished) return;
  finished = true;
  // Packets held for a time that never came cannot be placed in any hour.
  droppedBeforeTime += held.size();
  held.clear();
  logger->StopLogging();
  writeFailed = logger->WriteFailed();
  if (tracker) {
    std::unique_lock<std::mutex> hold(tracker->lock);
    tracker->done.wait_for(hold, kArchiveWait, [this] { return tracker->finished >= closedFiles; });
  }
  logger.reset();
  archiver.reset();
}
