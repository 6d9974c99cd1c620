#include "logger/q0x_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/protocol/kavo_ids.h"
#include "logger/log_units.h"
#include "logger/packet_dispatch.h"

namespace {

constexpr std::uint8_t kRecordData = 0;
constexpr std::uint8_t kRecordName = 2;
constexpr std::size_t kRecordHeader = 4;  // 93 14 kind count
constexpr std::size_t kMaxName = 255;

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

CQ0xWriter::CQ0xWriter(SendFunction sendFn, LineFunction lineFn)
    : send(std::move(sendFn)), writeLine(std::move(lineFn)) {}

CQ0xWriter::~CQ0xWriter() {
  Close();
}

void CQ0xWriter::SendStreamCommand(std::uint8_t on) {
  KavoPacket packet;
  packet.id = kavo::kIdSuperRequest;
  packet.length = 4;
  packet.data[0] = kavo::kSubSystem;
  packet.data[1] = kavo::kSystemFileStream;
  packet.data[2] = 0x01;
  packet.data[3] = on;
  if (send) send(packet, 0);
}

void CQ0xWriter::StopStream() {
  EndRefusal();
  streaming = false;
  SendStreamCommand(0x00);
}

void CQ0xWriter::Close() {
  streaming = false;
  refusing = false;
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// A file that cannot be written (a full disk) is given up without touching the stream: asking for
// it again would send a second start command in the session. Forgetting the name lets the
// receiver's next name record, even the same name, open the file again.
void CQ0xWriter::DropFile() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  currentName = kNoName;
}

void CQ0xWriter::TakePacket(const KavoPacket& packet) {
  if (!streaming && ++packetCount > kPacketsBeforeStream) {
    streaming = true;
    SendStreamCommand(0x01);
  }
  if (!packet.checksumOk || packet.id != kavo::kIdSuperReport || packet.length < kRecordHeader ||
      packet.data[0] != kavo::kSubSystem || packet.data[1] != kavo::kSystemFileStream ||
      !SuperPacketChecksumOk(packet))
    return;
  // The record's own bytes end before the checksum trailer.
  const std::size_t end = packet.length - kChecksumBytes;
  if (end <= 2) return;  // no room for the record kind before the trailer
  switch (packet.data[2]) {
    case kRecordData: {
      const std::size_t count = packet.data[3];
      if (kRecordHeader + count > end) return;
      if (refusing) {
        ++refusedRun;
        ++refusedRecords;
        return;
      }
      if (fd < 0) return;
      if (!WriteAll(fd, packet.data + kRecordHeader, count)) DropFile();
      return;
    }
    case kRecordName:
      OpenName(packet.data + kRecordHeader, end > kRecordHeader ? end - kRecordHeader : 0);
      return;
    default:
      return;
  }
}

// The name starts after the record header and ends at its zero byte (or the record's end).
void CQ0xWriter::OpenName(const std::uint8_t* name, std::size_t available) {
  const void* zero = std::memchr(name, 0, available);
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - name) : available;
  const std::string received(reinterpret_cast<const char*>(name), length);
  // The receiver names a file, never a place: a name that would climb out of the logging folder
  // or into another one is not followed.
  if (length == 0 || length > kMaxName || received == "." || received == ".." ||
      received.find_first_of("/\\") != std::string::npos) {
    Refuse(name, length);
    return;
  }
  EndRefusal();
  const std::string path = folder.empty() ? received : folder + "/" + received;
  if (path == currentName) return;  // the same file goes on
  currentName = path;
  if (fd >= 0) ::close(fd);
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// The file of the earlier name ends here whatever comes next: its successor's data must not be
// appended to it.
void CQ0xWriter::Refuse(const std::uint8_t* name, std::size_t length) {
  std::string shown;
  for (std::size_t i = 0; i < length && i < kShownNameLength; ++i) {
    const char c = static_cast<char>(name[i]);
    shown.push_back(name[i] < 0x20 || name[i] >= 0x7F || c == '"' ? '?' : c);
  }
  if (length > kShownNameLength) shown += "...";
  if (refusing && shown == refusedName) return;  // the same refused name again: the run goes on
  EndRefusal();
  DropFile();
  refusing = true;
  refusedName = std::move(shown);
  refusedRun = 0;
}

void CQ0xWriter::EndRefusal() {
  if (!refusing) return;
  refusing = false;
  if (!writeLine) return;
  char line[200];
  std::snprintf(line, sizeof line, "* Q0x name record \"%s\" refused: %llu data records dropped",
                refusedName.c_str(), static_cast<unsigned long long>(refusedRun));
  writeLine(line);
}
