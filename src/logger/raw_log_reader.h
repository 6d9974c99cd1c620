#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"

class CKavoParser;

// Reads a raw packet log (".kavo": the frames exactly as they came off the link) back into
// packets, through the same parser a live link uses. The file is read in chunks of a fixed size,
// so a file of any length costs the same memory; a frame cut off at the end of the file is
// dropped, and garbage between frames is skipped the way the parser skips line noise.
class CRawLogReader {
 public:
  static constexpr std::size_t kDefaultChunk = 64 * 1024;

  explicit CRawLogReader(std::size_t chunkBytes = kDefaultChunk);
  ~CRawLogReader();
  CRawLogReader(const CRawLogReader&) = delete;
  CRawLogReader& operator=(const CRawLogReader&) = delete;

  // Opens `path` for reading from its start; false with `error` set when it cannot be read.
  bool Open(const std::string& path, std::string& error);
  void Close();
  bool IsOpen() const { return file != nullptr; }

  // The next complete frame. False at the end of the file, or on a read error (Error() is set).
  bool Next(KavoPacket& packet);
  // Goes on reading from byte `offset` (clamped to the size), with a fresh parser: the frame at
  // that point is found again by its opening bytes.
  bool Seek(std::uint64_t offset);

  // The file's size when opened, and the bytes handed to the parser so far.
  std::uint64_t Size() const { return size; }
  std::uint64_t Position() const { return position; }
  // Frames the parser dropped as malformed.
  std::uint64_t DroppedFrames() const;
  const std::string& Error() const { return error; }

 private:
  bool Fill();

  std::FILE* file = nullptr;
  std::string path;
  std::unique_ptr<CKavoParser> parser;
  std::uint64_t droppedBefore = 0;  // by parsers replaced at a seek
  std::vector<std::uint8_t> buffer;
  std::size_t filled = 0;
  std::size_t next = 0;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  bool atEnd = false;
  std::string error;
};

// GPS time in milliseconds (week × 604800000 + time of week) of a valid time packet: id 0x41,
// exactly ten bytes, time of week from 0 to 604800 s. -1 for anything else.
std::int64_t TimePacketGpsMs(const KavoPacket& packet);
// The UTC offset in seconds a valid time packet carries (bytes 6-9); 0 for anything else.
double TimePacketUtcOffset(const KavoPacket& packet);
