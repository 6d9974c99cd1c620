#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "files/unique_fd.h"

// States of one download, numbered as the status texts are. Below FileOpenFailed a job is active.
enum class XferState : int {
  Queued = 0,
  Starting = 1,
  Downloading = 2,
  Closing = 3,
  FileOpenFailed = 4,
  FileNotFound = 5,
  Done = 6,
  FileTruncated = 7,
  TimedOut = 8,
};

// One file to download from the receiver and the local file it is written to. Owned by
// CFileXferEngine; fields are the engine's to change.
class CFileXferJob {
 public:
  static constexpr std::int32_t kCountdownStart = 100;  // watchdog ticks before the first resend

  CFileXferJob(std::string name, std::string remoteFolder, std::filesystem::path localFolder,
               std::int32_t listIndex);

  std::string RemotePath() const { return remoteFolder + name; }
  bool IsActive() const { return state < XferState::FileOpenFailed; }
  // "Queued", "Downloading - 25.0%", "Done", ...
  std::string StatusText() const { return StatusText(state, received, size); }
  static std::string StatusText(XferState state, std::uint32_t received, std::uint32_t size);

  // Creates (truncating) local folder / name for writing. The name comes from the receiver, so
  // one that could leave the folder ("..", a separator, a NUL, over-long) is refused, and an
  // existing link at the target is not followed. False when the file cannot be created.
  bool CreateLocalFile();
  bool HasLocalFile() const { return localFile.Valid(); }
  // Appends to the local file; false when the write fails.
  bool WriteLocal(const std::uint8_t* bytes, std::size_t count);
  void CloseLocalFile() { localFile.Reset(); }

  std::string name;
  std::string remoteFolder;
  std::filesystem::path localFolder;
  std::uint32_t handle = 0;
  std::uint32_t size = 0;
  std::uint32_t received = 0;
  std::int32_t listIndex = -1;
  XferState lastState = XferState::Queued;
  std::uint32_t lastReceived = 0;
  std::int32_t countdown = kCountdownStart;
  std::int32_t retries = 0;
  XferState state = XferState::Queued;

 private:
  CUniqueFd localFile;
};
