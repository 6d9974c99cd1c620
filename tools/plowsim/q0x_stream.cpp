#include "q0x_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/protocol/kavo_ids.h"

namespace {

constexpr std::size_t kMaxFile = 64 * 1024 * 1024;
constexpr std::size_t kMaxName = 200;

void SendRecord(std::uint8_t kind, std::uint8_t count, const std::uint8_t* bytes, std::size_t length,
                const CQ0xStream::Sink& sink) {
  KavoPacket packet;
  packet.id = kavo::kIdSuperReport;
  packet.data[0] = kavo::kSubSystem;
  packet.data[1] = kavo::kSystemFileStream;
  packet.data[2] = kind;
  packet.data[3] = count;
  std::memcpy(packet.data + 4, bytes, length);
  packet.length = static_cast<std::uint16_t>(4 + length);
  sink(packet, 1);
}

}  // namespace

bool CQ0xStream::Load(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  content.clear();
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0 && content.size() <= kMaxFile)
    content.insert(content.end(), buffer, buffer + n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed || content.size() > kMaxFile) {
    error = "cannot read " + path + (failed ? ": read error" : ": larger than 64 MiB");
    return false;
  }
  const std::size_t slash = path.find_last_of('/');
  name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name.size() > kMaxName) {
    error = "unusable file name " + path;
    return false;
  }
  loaded = true;
  return true;
}

bool CQ0xStream::Control(const KavoPacket& p, std::int64_t nowMs, const TraceFunction& trace) {
  if (p.id != kavo::kIdSuperRequest || p.length < 4 || p.data[0] != kavo::kSubSystem ||
      p.data[1] != kavo::kSystemFileStream || p.data[2] != 0x01)
    return false;
  const bool start = p.data[3] == 0x01;
  if (start && !streaming && loaded && sent < content.size() + 1) {
    streaming = true;
    nextMs = nowMs;
    trace("Q0X START " + name + " " + std::to_string(content.size()));
  } else if (!start && streaming) {
    streaming = false;
    trace("Q0X STOP " + std::to_string(sent));
  }
  return true;
}

void CQ0xStream::Tick(std::int64_t nowMs, const Sink& sink, const TraceFunction& trace) {
  if (!streaming || nowMs < nextMs) return;
  nextMs = nowMs + kTickMs;
  for (int i = 0; i < kRecordsPerTick; ++i) {
    if (!nameSent) {
      std::uint8_t record[kMaxName + 1] = {};
      std::memcpy(record, name.data(), name.size());  // and its zero byte
      SendRecord(2, 0, record, name.size() + 1, sink);
      nameSent = true;
      continue;
    }
    if (sent >= content.size()) {
      streaming = false;
      sent = content.size() + 1;  // streamed once
      trace("Q0X END " + std::to_string(content.size()));
      return;
    }
    const std::size_t count = std::min(kChunk, content.size() - sent);
    SendRecord(0, static_cast<std::uint8_t>(count), content.data() + sent, count, sink);
    sent += count;
  }
}
