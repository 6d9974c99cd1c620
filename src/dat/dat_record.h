#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "link/protocol/kavo_packet.h"

// Records of the DAT file: a plain sequence of self-describing records, no file header, no
// trailer. Every record starts with a 4-byte header
//   0x74, total length (header included), sub-type, record type
// except type 17, whose length is a little-endian u16 in bytes 1-2 and which has no sub-type.
// Record fields are little-endian; this code stores host-order values, so it needs a
// little-endian host.
static_assert(std::endian::native == std::endian::little, "DAT records are written in host byte order");

inline constexpr std::uint8_t kDatSync = 0x74;

// Record lengths, header included. The body written is always the record length minus the header.
inline constexpr std::size_t kDatHeaderLength = 4;
inline constexpr std::size_t kDatLength5Sub1 = 65;
inline constexpr std::size_t kDatLength5Sub2 = 64;
inline constexpr std::size_t kDatLength5Sub5 = 32;
inline constexpr std::size_t kDatLength11Base = 82;  // plus 2 bytes per satellite
inline constexpr std::size_t kDatLength15 = 124;
inline constexpr std::size_t kDatLength16Sub27 = 20;
inline constexpr std::size_t kDatLength16Sub43 = 13;
inline constexpr std::size_t kDatLength17Fixed = 21;  // plus 48 per block, 24 more per block with L2
inline constexpr std::size_t kDatLength19 = 14;
inline constexpr std::size_t kDatLength21 = 190;

// Writes `count` bytes to `fd` without buffering, continuing after a partial write. Returns 0, or
// the errno of the error that ended the write (the bytes before it may have been written); a
// descriptor below 0 writes nothing and returns 0.
int DatWriteBytes(int fd, const void* bytes, std::size_t count);

// Base of every record: the header in file order and the descriptor the record is written to.
// Each derived class keeps its body in memory byte for byte as it is written.
//
// A write operation validates all of its input before it writes anything. A write error on the
// descriptor stops the record's further writes and is kept (WriteError) for the owner, which can
// cut the part written away again; a descriptor below 0 writes nothing.
class CDATRecord {
 public:
  explicit CDATRecord(int fileDescriptor) : fd(fileDescriptor) {}
  virtual ~CDATRecord() = default;

  // Sets the header and takes every body field from `image`, a big-endian image of the body's
  // field sequence (numeric fields are byte-reversed, byte blocks copied), then writes header and
  // body. False, nothing written, for a sub-type the class does not know or an image shorter than
  // the body it describes.
  virtual bool WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) = 0;

  const std::uint8_t* Header() const { return header; }
  int FileDescriptor() const { return fd; }
  // A record kept across a file change is pointed at the new file with this.
  void SetFileDescriptor(int fileDescriptor) { fd = fileDescriptor; }
  // The errno that stopped the last write (0: none since ClearWriteError). A record kept for
  // several writes is cleared before each.
  int WriteError() const { return writeError; }
  void ClearWriteError() { writeError = 0; }
  // Record length from the header, header included (0 before the header is set).
  std::size_t Length() const;

 protected:
  void SetHeader(std::uint8_t length, std::uint8_t subType, std::uint8_t type);
  // One unbuffered write of `count` bytes (continued after a partial write).
  void WriteBytes(const void* bytes, std::size_t count) const;

  std::uint8_t header[kDatHeaderLength] = {};
  int fd;

 private:
  mutable int writeError = 0;
};
