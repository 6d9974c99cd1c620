#pragma once

#include <QObject>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/file_xfer_engine.h"
#include "link/protocol/kavo_packet.h"

// What a headless run does with the receiver's data folder instead of running until a signal.
struct HeadlessFileCommand {
  enum class Mode { None, List, Get };
  Mode mode = Mode::None;
  std::vector<std::string> patterns;  // Get: shell patterns, matched without regard to case
  bool deleteAfter = false;           // Get: delete each file on the receiver once it is done
};

// The file transfer engine driven from the command line: lists the receiver's entries, or
// downloads the entries matching the patterns into a local folder, printing each file's status
// text as it changes ("NAME: STATUS"), and reports the outcome through `finish` (0 when every
// file is "Done" — and, with deleteAfter, deleted —, 1 otherwise).
//
// The listing has no end marker: it is taken as complete after a second without a new entry
// (or kEmptyListTicks without any). Single-threaded; the owner forwards every received packet.
class CHeadlessFiles final : public QObject {
  Q_OBJECT
 public:
  using IsConnectedFn = CFileXferEngine::IsConnectedFn;
  using SendFn = CFileXferEngine::SendFn;  // must add the checksum trailer
  using FinishFn = std::function<void(int exitCode)>;

  static constexpr std::uint64_t kQuietTicks = 100;      // 1 s after the last entry
  static constexpr std::uint64_t kEmptyListTicks = 500;  // 5 s without any entry: empty folder
  // Delete answers have no resend: with nothing else left, a run waits this long (10 s) for them.
  static constexpr std::uint64_t kDeleteWaitTicks = 1000;

  CHeadlessFiles(HeadlessFileCommand command, const std::string& downloadFolder, IsConnectedFn isConnected,
                 SendFn send, FinishFn finish, std::FILE* out = stdout);
  ~CHeadlessFiles() override;

  // The link is up: asks for the listing and starts the 10 ms tick. Later calls do nothing.
  void Start();
  void OnPacket(const KavoPacket& packet);
  // One tick, as the timer calls it (tests drive it by hand).
  void Tick();

  const CFileXferEngine& Engine() const { return *engine; }

 private:
  enum class Phase { Idle, Listing, Transferring, Finished };

  void ListingDone();
  void PrintChanges();
  void Finish(int exitCode);

  HeadlessFileCommand command;
  IsConnectedFn isConnected;
  FinishFn finish;
  std::FILE* out;
  std::unique_ptr<CFileXferEngine> engine;
  QTimer timer;
  Phase phase = Phase::Idle;
  std::vector<int> selected;         // the entries being fetched
  std::vector<std::string> printed;  // per selected entry: the status last printed
  std::vector<bool> reachedDone;     // per selected entry: "Done" was seen
  std::uint64_t deleteWait = 0;      // ticks spent waiting only for delete answers
};
