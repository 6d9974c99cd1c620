#include "logger/hour_manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "link/protocol/kavo_ids.h"
#include "logger/log_units.h"

namespace {

// 6 January 1980, the start of GPS time, in seconds since 1970.
constexpr double kGpsEpochUnix = 315964800.0;
// Beyond the last GPS week a 16-bit week number can give.
constexpr double kLatestUtc = kGpsEpochUnix + 65536.0 * kSecondsPerWeek + 2 * kSecondsPerWeek;

bool EndsWith(const std::string& text, const char* tail) {
  const std::size_t n = std::strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// The path without its ".log" (the whole path when it has none).
std::string BaseOf(const std::string& logPath) {
  return EndsWith(logPath, ".log") ? logPath.substr(0, logPath.size() - 4) : logPath;
}

std::string FileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

// Keeps a value on its line: control characters would break the key: value format.
std::string OneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

// A time packet's UTC seconds since 1970; false for one the logger would not take either.
bool TimePacketUtc(const KavoPacket& packet, double& utc) {
  if (packet.id != kavo::kIdTime || packet.length != 10) return false;
  float timeOfWeek;
  float utcOffset;
  const std::uint32_t towBits = ReadBe32(packet.data);
  const std::uint32_t offsetBits = ReadBe32(packet.data + 6);
  std::memcpy(&timeOfWeek, &towBits, sizeof timeOfWeek);
  std::memcpy(&utcOffset, &offsetBits, sizeof utcOffset);
  if (!(timeOfWeek >= 0.0f) || !std::isfinite(utcOffset)) return false;
  const double week = ReadBe16(packet.data + 4);
  utc = kGpsEpochUnix + week * kSecondsPerWeek + static_cast<double>(timeOfWeek) -
        static_cast<double>(utcOffset);
  // A garbled offset could put the time anywhere; only a time the calendar can show is taken.
  return utc > kGpsEpochUnix - kSecondsPerWeek && utc < kLatestUtc;
}

// "2026-01-07T14:20:05.000Z".
std::string IsoTime(double utc) {
  const double whole = std::floor(utc);
  int millis = static_cast<int>(std::lround((utc - whole) * 1000.0));
  std::time_t seconds = static_cast<std::time_t>(whole);
  if (millis >= 1000) {
    millis -= 1000;
    ++seconds;
  }
  std::tm tm{};
  if (gmtime_r(&seconds, &tm) == nullptr) return "?";
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
  return text;
}

void AppendLine(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void AppendLine(std::string& out, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) out.append(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
  out.push_back('\n');
}

}  // namespace

void CHourManifest::ResetCounts() {
  packets = 0;
  bytes = 0;
  byId.fill(0);
  checksumFailures = 0;
  droppedFrames = 0;
  linkLost = 0;
  linkRestored = 0;
  lostLines = 0;
  lostBytes = 0;
  gapCount = 0;
  gaps.clear();
  earlierGaps.clear();
  havePrevious = false;
}

void CHourManifest::Begin(std::uint32_t hourCodeIn, const std::string& stationIn, int yearIn, int monthIn,
                          int dayIn, int hourIn) {
  ResetCounts();
  open = true;
  hourCode = hourCodeIn;
  station = stationIn;
  year = yearIn;
  month = monthIn;
  day = dayIn;
  hour = hourIn;
  droppedFrames = pendingDrops;
  linkLost = pendingLost;
  linkRestored = pendingRestored;
  pendingDrops = pendingLost = pendingRestored = 0;
  if (pendingTime) {
    pendingTime = false;
    ++packets;
    bytes += pendingTimeBytes;
    ++byId[kavo::kIdTime];
    havePrevious = true;
    previousUtc = pendingTimeUtc;
  }
}

void CHourManifest::NotePacket(const KavoPacket& packet, double clockSeconds) {
  double utc = 0;
  const bool timePacket = TimePacketUtc(packet, utc);
  if (timePacket) {
    timeKnown = true;
    anchorUtc = utc;
    anchorClock = clockSeconds;
  }
  if (!open) {
    pendingTime = timePacket;
    pendingTimeBytes = packet.rawLength;
    pendingTimeUtc = utc;
    return;
  }
  ++packets;
  bytes += packet.rawLength;
  ++byId[packet.id];
  if ((packet.id == kavo::kIdRtkReport || packet.id == kavo::kIdSuperReport) && !packet.checksumOk)
    ++checksumFailures;
  if (!timeKnown) return;
  const double now = anchorUtc + (clockSeconds - anchorClock);
  if (havePrevious && now - previousUtc > kGapSeconds) {
    ++gapCount;
    if (gaps.size() < kMaxListedGaps) gaps.push_back(Gap{previousUtc, now - previousUtc});
  }
  // A time packet may set the time back a little (it is exact, the clock in between is not).
  havePrevious = true;
  previousUtc = now;
}

void CHourManifest::NoteDroppedFrames(std::uint64_t count) {
  (open ? droppedFrames : pendingDrops) += count;
}

void CHourManifest::NoteLinkLost() {
  ++(open ? linkLost : pendingLost);
}

void CHourManifest::NoteLinkRestored() {
  ++(open ? linkRestored : pendingRestored);
}

void CHourManifest::NoteLost(std::uint64_t lines, std::uint64_t bytes) {
  lostLines += lines;
  lostBytes += bytes;
}

std::string CHourManifest::PathFor(const std::string& logPath) {
  return BaseOf(logPath) + ".manifest";
}

std::vector<std::string> CHourManifest::HourFiles(const std::string& logPath) {
  const std::string base = BaseOf(logPath);
  return {base + ".log", base + ".kavo", base + ".dat", base + "_base.cmr"};
}

std::string CHourManifest::Sha256OfFile(const std::string& path) {
  // Non-blocking, so that a FIFO put in a file's place cannot hold the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return {};
  }
  QCryptographicHash hash(QCryptographicHash::Sha256);
  char chunk[64 * 1024];
  auto left = static_cast<std::uint64_t>(info.st_size);
  bool ok = true;
  while (left > 0) {
    const ssize_t n =
        ::read(fd, chunk, static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof chunk)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;  // cut short since: hashed as far as it goes
    hash.addData(QByteArrayView(chunk, n));
    left -= static_cast<std::uint64_t>(n);
  }
  ::close(fd);
  if (!ok) return {};
  return hash.result().toHex().toStdString();
}

std::string CHourManifest::Text(const std::string& logPath, const std::vector<std::string>& files) const {
  std::string out;
  AppendLine(out, "manifest: 1");
  AppendLine(out, "hour: %07lu", static_cast<unsigned long>(hourCode));
  AppendLine(out, "utc-hour: %04d-%02d-%02d %02d", year, month, day, hour);
  AppendLine(out, "station: %s", OneLine(station).c_str());
  AppendLine(out, "log: %s", OneLine(FileName(logPath)).c_str());
  AppendLine(out, "packets: %llu", static_cast<unsigned long long>(packets));
  AppendLine(out, "bytes: %llu", static_cast<unsigned long long>(bytes));
  for (std::size_t id = 0; id < byId.size(); ++id)
    if (byId[id] != 0)
      AppendLine(out, "packets-0x%02X: %llu", static_cast<unsigned>(id),
                 static_cast<unsigned long long>(byId[id]));
  AppendLine(out, "checksum-failures: %llu", static_cast<unsigned long long>(checksumFailures));
  AppendLine(out, "parser-dropped-frames: %llu", static_cast<unsigned long long>(droppedFrames));
  AppendLine(out, "gap-time: receiver UTC");
  AppendLine(out, "gaps: %llu", static_cast<unsigned long long>(gapCount));
  for (const std::string& gap : earlierGaps) AppendLine(out, "gap: %s", gap.c_str());
  for (std::size_t i = 0; i < gaps.size() && earlierGaps.size() + i < kMaxListedGaps; ++i)
    AppendLine(out, "gap: %s %.3f", IsoTime(gaps[i].startUtc).c_str(), gaps[i].length);
  AppendLine(out, "link-lost: %llu", static_cast<unsigned long long>(linkLost));
  AppendLine(out, "link-restored: %llu", static_cast<unsigned long long>(linkRestored));
  AppendLine(out, "lost-lines: %llu", static_cast<unsigned long long>(lostLines));
  AppendLine(out, "lost-bytes: %llu", static_cast<unsigned long long>(lostBytes));
  for (const std::string& path : files) {
    const std::string digest = Sha256OfFile(path);
    if (!digest.empty()) AppendLine(out, "sha256: %s  %s", digest.c_str(), OneLine(FileName(path)).c_str());
  }
  return out;
}

void CHourManifest::AddEarlierManifest(const std::string& path) {
  // Only a regular file of a manifest's size: anything else put there (a device, a FIFO) could
  // be read for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uint64_t>(info.st_size) > kMaxManifestBytes) {
    ::close(fd);
    return;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    ::close(fd);
    return;
  }
  struct Earlier {
    std::uint64_t packets = 0, bytes = 0, checksumFailures = 0, droppedFrames = 0, gapCount = 0;
    std::uint64_t linkLost = 0, linkRestored = 0, lostLines = 0, lostBytes = 0;
    std::array<std::uint64_t, 256> byId{};
    std::vector<std::string> gaps;
  } e;
  char hourText[16];
  std::snprintf(hourText, sizeof hourText, "%07lu", static_cast<unsigned long>(hourCode));
  bool sameHour = false;
  char line[512];
  std::size_t read = 0;
  // Our own format: a line longer than the buffer is no line of ours and is skipped in pieces.
  // The size bound holds even should the file grow while it is read.
  while (read <= kMaxManifestBytes && std::fgets(line, sizeof line, file) != nullptr) {
    read += std::strlen(line) + 1;
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const std::size_t colon = text.find(": ");
    if (colon == std::string::npos) continue;
    const std::string key = text.substr(0, colon);
    const std::string value = text.substr(colon + 2);
    const std::uint64_t number = std::strtoull(value.c_str(), nullptr, 10);
    unsigned id = 0;
    char end = 0;
    if (key == "hour") {
      sameHour = value == hourText;
    } else if (key == "packets") {
      e.packets = number;
    } else if (key == "bytes") {
      e.bytes = number;
    } else if (std::sscanf(key.c_str(), "packets-0x%2X%c", &id, &end) == 1 && id < 256) {
      e.byId[id] = number;
    } else if (key == "checksum-failures") {
      e.checksumFailures = number;
    } else if (key == "parser-dropped-frames") {
      e.droppedFrames = number;
    } else if (key == "gaps") {
      e.gapCount = number;
    } else if (key == "gap" && e.gaps.size() < kMaxListedGaps) {
      e.gaps.push_back(OneLine(value));
    } else if (key == "link-lost") {
      e.linkLost = number;
    } else if (key == "link-restored") {
      e.linkRestored = number;
    } else if (key == "lost-lines") {
      e.lostLines = number;
    } else if (key == "lost-bytes") {
      e.lostBytes = number;
    }
  }
  std::fclose(file);
  if (!sameHour) return;
  packets += e.packets;
  bytes += e.bytes;
  for (std::size_t id = 0; id < byId.size(); ++id) byId[id] += e.byId[id];
  checksumFailures += e.checksumFailures;
  droppedFrames += e.droppedFrames;
  gapCount += e.gapCount;
  linkLost += e.linkLost;
  linkRestored += e.linkRestored;
  lostLines += e.lostLines;
  lostBytes += e.lostBytes;
  earlierGaps = std::move(e.gaps);
}

bool CHourManifest::Finish(const std::string& logPath) {
  if (!open) return false;
  open = false;
  const std::string path = PathFor(logPath);
  AddEarlierManifest(path);
  const std::string text = Text(logPath, HourFiles(logPath));
  // Written aside and renamed: a reader or the zip never sees half a manifest.
  const std::string partial = path + ".part";
  writeError = 0;
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) {
    writeError = errno;
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (!written) writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (!closed && writeError == 0) writeError = errno;
  std::error_code ec;
  if (written && closed) {
    std::filesystem::rename(partial, path, ec);
    if (!ec) return true;
    writeError = ec.value();
  }
  std::filesystem::remove(partial, ec);
  if (writeError == 0) writeError = EIO;
  return false;
}
