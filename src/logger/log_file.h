#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The open text log of one hour. Opened for appending (a restarted hour continues its file),
// created when missing, never truncated; an exclusive advisory lock keeps a second writer (another
// instance logging to the same folder and prefix) out while readers stay free to read.
//
// A write that fails (a full disk, a removed stick) loses its text, and only its text: a line the
// disk took only part of is cut away again, so the file never holds half a line, and the file
// stays open, so the next write tries again. What was lost is counted per file.
class CLogFile {
 public:
  CLogFile() = default;
  ~CLogFile();
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // False when the file cannot be created or another writer holds it. Starts the counts afresh.
  bool Open(const std::string& path);
  // Writes what the write buffer holds (a failure there is counted like any other) and closes.
  // The counts and the error stay readable until the next Open.
  void Close();
  bool IsOpen() const { return fd >= 0; }
  const std::string& Path() const { return path; }
  // Writes the text unbuffered, so a reader or a crash sees every finished line; with a write
  // buffer, once the buffer is full and at Close. False when the text could not be written (with a
  // buffer: when the buffer could not be written; what it held is lost with it). A lost text counts
  // its line ends as lost lines and its bytes as lost bytes, unless `counted` is false (the
  // logger's own note about the loss).
  bool Write(const char* text, std::size_t length, bool counted = true);
  // Collects up to `bytes` before each write (0: unbuffered, the default). For batch work such as
  // a replay, where a write per line costs more than the lines themselves.
  void SetWriteBuffer(std::size_t bytes);

  // Lines (line ends) and bytes that could not be written since Open.
  std::uint64_t LostLines() const { return lostLines; }
  std::uint64_t LostBytes() const { return lostBytes; }
  // The errno of the last failed write; 0 when none failed since Open.
  int LastError() const { return lastError; }

 private:
  bool WriteNow(const char* text, std::size_t length);
  bool Flush();
  void CountLost(const char* text, std::size_t length, std::uint64_t uncountedLines,
                 std::uint64_t uncountedBytes);

  int fd = -1;
  std::string path;
  std::size_t bufferLimit = 0;
  std::string buffer;
  std::uint64_t bufferUncountedLines = 0;  // line ends of uncounted texts in the buffer
  std::uint64_t bufferUncountedBytes = 0;  // and their bytes
  std::uint64_t lostLines = 0;
  std::uint64_t lostBytes = 0;
  int lastError = 0;
};
