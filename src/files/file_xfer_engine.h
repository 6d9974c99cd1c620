#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/file_xfer_job.h"
#include "link/protocol/kavo_packet.h"

// What a window draws for one download: its list entry and how far it got.
struct FileXferProgress {
  std::int32_t listIndex = -1;
  std::string name;
  XferState state = XferState::Queued;
  std::uint32_t received = 0;
  std::uint32_t size = 0;
};

// Lists the receiver's data folder, downloads files from it block by block, one at a time, and
// deletes files on it. Holds the list of the receiver's entries (each "text" or "text [status]")
// and the controls' enabled state, so a window only mirrors them and a headless command can
// drive the same engine.
//
// Driven from one thread: OnPacket for every received packet, Tick every 10 ms (the watchdog
// counts these ticks), and the user's actions. Requests go out through `send` (which must add
// the checksum trailer) only while `isConnected` says so.
class CFileXferEngine {
 public:
  using IsConnectedFn = std::function<bool()>;
  using SendFn = std::function<void(const KavoPacket& request)>;
  using ChangedFn = std::function<void()>;

  static constexpr int kTimerId = 100;
  static constexpr int kTickMs = 10;
  static constexpr std::size_t kMaxEntries = 1024;    // entry replies beyond this are dropped
  static constexpr std::uint8_t kMaxReadCount = 128;  // bytes asked per block
  static constexpr std::int32_t kMaxRetries = 6;      // the sixth silent period times a job out
  // A delete left unanswered this long (the six silent periods that time a job out: 100, 200, 500,
  // 1000, 1700 and 2600 ticks) ends as "Timed Out". It is not sent again: a delete that did
  // happen would be answered as one that could not.
  static constexpr std::int32_t kDeleteTimeoutTicks = 6100;

  CFileXferEngine(IsConnectedFn isConnected, SendFn send);
  ~CFileXferEngine();
  CFileXferEngine(const CFileXferEngine&) = delete;
  CFileXferEngine& operator=(const CFileXferEngine&) = delete;

  // Where downloads land ("/"-separated). Taken by each job when it is created.
  void SetDownloadFolder(const std::string& folder) { downloadFolder = folder; }
  const std::filesystem::path& DownloadFolder() const { return downloadFolder; }
  // "Delete files when done downloading"; on from the start.
  void SetDeleteWhenDone(bool on) { deleteWhenDone = on; }
  bool DeleteWhenDone() const { return deleteWhenDone; }
  // Called after anything a window shows has changed (entries, controls, progress).
  void SetChangedCallback(ChangedFn changed) { this->changed = std::move(changed); }

  // Empties the list and asks the receiver for its entries.
  void Refresh();
  // Queues a download for each listed index (list order; bad and repeated indices are skipped)
  // and starts the first one.
  void GetFiles(const std::vector<int>& selected);
  // Sends a delete for each listed index. The reply completes the entry whose file name occurs
  // (without regard to case) in the path it carries; no reply within kDeleteTimeoutTicks ends it
  // as "Timed Out".
  void DeleteFiles(const std::vector<int>& selected);
  // Forgets every job (no close is sent) and every pending delete, refreshes the list and
  // enables the controls.
  void Cancel();
  // One watchdog tick (timer 100, every kTickMs).
  void Tick();
  // Takes a reply meant for the file transfer; false for any other packet.
  bool OnPacket(const KavoPacket& packet);

  // A job is active or a delete reply is awaited: button 1 cancels instead of closing.
  bool IsBusy() const;
  // List, "Refresh", "Get Selected Files" and "Delete Selected Files" usable; false while busy.
  bool ControlsEnabled() const { return controlsEnabled; }
  const char* Button1Caption() const { return controlsEnabled ? "Close" : "Cancel"; }
  const char* WindowTitle() const { return "File Transfer"; }

  const std::vector<std::string>& Entries() const { return entries; }
  std::vector<FileXferProgress> Progress() const;
  std::size_t PendingDeletes() const { return pendingDeletes.size(); }
  // Indices of the entries whose file name matches a shell pattern ("*.T02").
  std::vector<int> MatchingEntries(const std::string& pattern) const;
  // Entry replies since the last Refresh, and ticks since that Refresh or the last of them: the
  // listing has no end marker, so a headless caller waits for a quiet spell.
  std::size_t ListReplies() const { return listReplies; }
  std::uint64_t TicksSinceListActivity() const { return ticks - listActivityTick; }

  // The file name of an entry: its text before the first " [" (the whole text without one).
  static std::string EntryFileName(const std::string& text);
  // The status inside the trailing " [...]", empty when there is none.
  static std::string EntryStatus(const std::string& text);

 private:
  bool OnEntry(const KavoPacket& packet, std::size_t end);
  bool OnFileReply(const KavoPacket& packet, std::size_t end);
  bool OnDeleteReply(const KavoPacket& packet, std::size_t end);
  void SendDelete(const std::string& name, std::int32_t listIndex);
  void TickDeletes();
  std::int32_t EntryIndexOf(const std::string& name, std::int32_t hint) const;

  void Advance(CFileXferJob& job);
  void UpdateState();
  void StartFrontIfQueued();
  CFileXferJob* Front();
  CFileXferJob* FindByHandle(std::uint32_t handle, XferState from, XferState to);
  bool AnyActive() const;
  void ShowStatus(const CFileXferJob& job);
  void SetEntryStatus(std::int32_t index, const std::string& status);
  void SendRequest(const KavoPacket& request);
  void Notify();

  IsConnectedFn isConnected;
  SendFn send;
  ChangedFn changed;
  std::filesystem::path downloadFolder;
  bool deleteWhenDone = true;
  bool controlsEnabled = true;
  std::vector<std::string> entries;
  std::vector<std::unique_ptr<CFileXferJob>> jobs;
  struct PendingDelete {
    std::string name;  // the entry's file name
    std::int32_t listIndex = -1;
    std::int32_t ticksLeft = kDeleteTimeoutTicks;
  };
  std::vector<PendingDelete> pendingDeletes;
  std::uint64_t ticks = 0;
  std::uint64_t listActivityTick = 0;
  std::size_t listReplies = 0;
  bool dirty = false;
};
