#pragma once

#include <string>

// The open text log of one hour. Opened for appending (a restarted hour continues its file),
// created when missing, never truncated; an exclusive advisory lock keeps a second writer (another
// instance logging to the same folder and prefix) out while readers stay free to read.
class CLogFile {
 public:
  CLogFile() = default;
  ~CLogFile();
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // False when the file cannot be created or another writer holds it.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd >= 0; }
  const std::string& Path() const { return path; }
  // Writes the text unbuffered, so a reader or a crash sees every finished line; with a write
  // buffer, once the buffer is full and at Close.
  bool Write(const char* text, std::size_t length);
  // Collects up to `bytes` before each write (0: unbuffered, the default). For batch work such as
  // a replay, where a write per line costs more than the lines themselves.
  void SetWriteBuffer(std::size_t bytes);

 private:
  bool WriteNow(const char* text, std::size_t length);
  bool Flush();

  int fd = -1;
  std::string path;
  std::size_t bufferLimit = 0;
  std::string buffer;
};
