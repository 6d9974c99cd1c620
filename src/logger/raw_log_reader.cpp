#include "logger/raw_log_reader.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_parser.h"

namespace {

float BeFloat(const std::uint8_t* bytes) {
  const std::uint32_t bits = ReadBe32(bytes);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

CRawLogReader::CRawLogReader(std::size_t chunkBytes)
    : parser(std::make_unique<CKavoParser>(nullptr)), buffer(chunkBytes > 0 ? chunkBytes : 1) {}

CRawLogReader::~CRawLogReader() {
  Close();
}

bool CRawLogReader::Open(const std::string& filePath, std::string& why) {
  Close();
  file = std::fopen(filePath.c_str(), "rb");
  if (file == nullptr) {
    why = "cannot read " + filePath + ": " + std::strerror(errno);
    return false;
  }
  path = filePath;
  // The size is only for showing progress; a file still growing is read to where it ends.
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long end = std::ftell(file);
    size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  }
  std::rewind(file);
  parser = std::make_unique<CKavoParser>(nullptr);
  droppedBefore = 0;
  filled = next = 0;
  position = 0;
  atEnd = false;
  error.clear();
  return true;
}

void CRawLogReader::Close() {
  if (file != nullptr) std::fclose(file);
  file = nullptr;
}

bool CRawLogReader::Fill() {
  if (file == nullptr || atEnd) return false;
  filled = std::fread(buffer.data(), 1, buffer.size(), file);
  next = 0;
  if (filled < buffer.size()) {
    atEnd = true;
    if (std::ferror(file)) error = "cannot read " + path + ": " + std::strerror(errno);
  }
  return filled > 0;
}

bool CRawLogReader::Next(KavoPacket& packet) {
  for (;;) {
    while (next < filled) {
      const std::uint8_t byte = buffer[next++];
      ++position;
      if (parser->FeedByte(byte) && parser->TryPopPacket(packet)) return true;
    }
    if (!Fill()) return false;
  }
}

bool CRawLogReader::Seek(std::uint64_t offset) {
  if (file == nullptr) return false;
  if (offset > size) offset = size;
  if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return false;
  droppedBefore += parser->DroppedFrames();
  parser = std::make_unique<CKavoParser>(nullptr);
  filled = next = 0;
  position = offset;
  atEnd = false;
  std::clearerr(file);
  return true;
}

std::uint64_t CRawLogReader::DroppedFrames() const {
  return droppedBefore + parser->DroppedFrames();
}

std::int64_t TimePacketGpsMs(const KavoPacket& packet) {
  if (packet.id != kavo::kIdTime || packet.length != 10) return -1;
  const float timeOfWeek = BeFloat(packet.data);
  // NaN fails the first test too.
  if (!(timeOfWeek >= 0.0f) || timeOfWeek > 604800.0f) return -1;
  const std::int64_t week = ReadBe16(packet.data + 4);
  return week * 604800000LL + std::llround(static_cast<double>(timeOfWeek) * 1000.0);
}

double TimePacketUtcOffset(const KavoPacket& packet) {
  if (TimePacketGpsMs(packet) < 0) return 0.0;
  const float offset = BeFloat(packet.data + 6);
  return std::isfinite(offset) ? static_cast<double>(offset) : 0.0;
}
