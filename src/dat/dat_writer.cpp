#include "dat/dat_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dat/dat_record11.h"
#include "dat/dat_record15.h"
#include "dat/dat_record16.h"
#include "dat/dat_record19.h"
#include "dat/dat_record21.h"
#include "link/protocol/kavo_ids.h"

namespace {

constexpr std::uint8_t kCmr93 = 0x93;
constexpr std::uint8_t kCmr94 = 0x94;

// Acquisition states named outside the state handler.
constexpr int kUtcWait = 8;
constexpr int kEphemerisRound = 11;
constexpr int kEphemerisWaitState = 12;

constexpr double kIonoUtcWait = 2.0;
constexpr double kEphemerisWait = 3.5;
constexpr double kOscillatorWait = 1.5;

constexpr const char* kDatOpenFailed = "Failed to open DAT logging file '%s'\n";
constexpr const char* kBaseOpenFailed = "Failed to open base DAT logging file '%s'\n";

// Packet tests of the replies and reports the writer accepts. Each also guarantees that the
// fields read later lie inside the packet.
bool IsTime(const KavoPacket& p) {
  return p.id == kavo::kIdTime && p.length == 10;
}
bool IsDataReply(const KavoPacket& p, std::uint8_t type, std::uint16_t length) {
  return p.id == kavo::kIdDataReply && p.length == length && p.data[1] == type;
}
bool IsIonosphere(const KavoPacket& p) {
  return IsDataReply(p, 4, 44);
}
bool IsUtc(const KavoPacket& p) {
  return IsDataReply(p, 5, 43);
}
bool IsEphemerisType(const KavoPacket& p) {
  return p.id == kavo::kIdDataReply && p.length >= 2 && p.data[1] == 6;
}
bool IsEphemeris(const KavoPacket& p) {
  return IsDataReply(p, 6, 171);
}
bool IsL1(const KavoPacket& p) {
  return p.id == kavo::kIdMeasurement && p.length >= 1 && p.data[0] == 1;
}
bool IsL2(const KavoPacket& p) {
  return p.id == kavo::kIdMeasurement && p.length >= 1 && p.data[0] == 0x10;
}
// The L1 packet's own length field (data 2-3) counts the bytes after data 0.
bool L1LengthOk(const KavoPacket& p) {
  return p.length >= 4 && p.length == ReadBe16(p.data + 2) + 1;
}
bool IsOscillator(const KavoPacket& p) {
  return p.id == kavo::kIdOscillator && p.length == 4;
}
bool IsSelection(const KavoPacket& p) {
  return p.id == kavo::kIdSelection && p.length >= 1 && p.length == (p.data[0] >> 4) + 17;
}
bool IsVelocity(const KavoPacket& p) {
  return p.id == kavo::kIdVelocity && (p.length == 20 || p.length == 24);
}
bool IsPosition(const KavoPacket& p) {
  return p.id == kavo::kIdLlaPosition && (p.length == 36 || p.length == 40);
}

// States that act without looking at a packet; the others wait for one.
bool ActsWithoutPacket(int step) {
  switch (step) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 11:
    case 13:
    case 14:
    case 15:
    case 16:
    case 18:
    case 20:
      return true;
    default:
      return false;
  }
}

std::string FormatName(const char* format, const std::string& name) {
  std::string text(format);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

int OpenFile(const std::string& name, int mode) {
  return ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode, 0666);
}

void CloseFile(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Cuts what a failed write left after `start` away again and goes on writing there, so the file
// keeps whole records (or whole CMR messages) only.
void CutBack(int fd, off_t start) {
  if (fd < 0 || start < 0) return;
  (void)::ftruncate(fd, start);
  (void)::lseek(fd, start, SEEK_SET);
}

// Walks the records of the DAT file `name` by their headers and cuts the file, open for writing
// on `fd`, after the last whole one when a record at its end is cut off (a writer that was killed
// mid-record). A file that is not a sequence of records is left as it is.
void CutPartialRecord(const std::string& name, int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return;
  const int in = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return;
  const auto size = static_cast<std::uint64_t>(info.st_size);
  std::uint64_t at = 0;
  std::uint8_t header[kDatHeaderLength];
  bool walked = true;
  while (at < size) {
    if (size - at < kDatHeaderLength) break;  // a header cut off
    if (::pread(in, header, sizeof header, static_cast<off_t>(at)) != static_cast<ssize_t>(sizeof header)) {
      walked = false;
      break;
    }
    if (header[0] != kDatSync) {
      walked = false;
      break;
    }
    std::size_t length = header[1];
    if (header[3] == 17) length |= static_cast<std::size_t>(header[2]) << 8;
    if (length < kDatHeaderLength) {
      walked = false;
      break;
    }
    if (size - at < length) break;  // a body cut off
    at += length;
  }
  ::close(in);
  if (walked && at < size) (void)::ftruncate(fd, static_cast<off_t>(at));
}

}  // namespace

CDATWriter::CDATWriter(SendFn send, TraceFn trace, const IClock& clock, IPrompts& prompts, LineFn writeLine)
    : sendFn(std::move(send)),
      traceFn(std::move(trace)),
      lineFn(std::move(writeLine)),
      clock(clock),
      prompts(prompts) {
  if (!sendFn || !traceFn) {
    sendFn = &CDATWriter::DummySend;
    traceFn = &CDATWriter::DummyTrace;
  }
}

CDATWriter::~CDATWriter() {
  CloseFile(datFd);
  CloseFile(baseFd);
}

void CDATWriter::DummySend(std::uint8_t id, std::uint16_t length, const std::uint8_t* data, int /*flag*/) {
  char text[64];
  const unsigned first = (length > 0 && data != nullptr) ? data[0] : 0u;
  std::snprintf(text, sizeof text, "DummySend: ID:0x%02X.0x%02X, length %d\n", id, first,
                static_cast<int>(length));
}

void CDATWriter::DummyTrace(const char* text) {
  char line[256];
  std::snprintf(line, sizeof line, "DummyTrace: %s\n", text != nullptr ? text : "");
}

std::string CDATWriter::BaseFileName(const std::string& datName) {
  static const std::string kDat = ".dat";
  static const std::string kBase = "_base.cmr";
  if (datName.size() >= kDat.size() &&
      datName.compare(datName.size() - kDat.size(), kDat.size(), kDat) == 0) {
    return datName.substr(0, datName.size() - kDat.size()) + kBase;
  }
  return datName + kBase;
}

double CDATWriter::Now() const {
  return static_cast<double>(clock.NowMs()) / 1000.0;
}

void CDATWriter::Trace(const char* text) const {
  traceFn(text);
}

void CDATWriter::Send(std::uint8_t id, std::uint16_t length, const std::uint8_t* data) const {
  sendFn(id, length, data, 0);
}

void CDATWriter::ShowOpenFailure(const char* format, const std::string& name) const {
  prompts.MessageBox(FormatName(format, name));
}

void CDATWriter::RequestCmr() const {
  static const std::uint8_t data[] = {0x02, 0x00, 0x02, kCmr93, kCmr94};
  Trace("DAT: Requesting the CMR 93 & 94");
  Send(kavo::kIdWrapped, sizeof data, data);
}

void CDATWriter::RequestIonosphere() const {
  static const std::uint8_t data[] = {0x01, 0x04, 0x00};
  Trace("DAT: Requesting Type 15 IONO");
  Send(kavo::kIdDataRequest, sizeof data, data);
}

void CDATWriter::RequestUtc() const {
  static const std::uint8_t data[] = {0x01, 0x05, 0x00};
  Send(kavo::kIdDataRequest, sizeof data, data);
}

void CDATWriter::RequestEphemeris(std::uint8_t prn) const {
  const std::uint8_t data[] = {0x01, 0x06, prn};
  Send(kavo::kIdDataRequest, sizeof data, data);
}

bool CDATWriter::RequestMissingEphemerides() const {
  bool traced = false;
  for (std::uint8_t prn = 1; prn <= 32; ++prn) {
    if (ephemerisHave[prn] != 0) continue;
    if (!traced) Trace("DAT: Requesting Ephemeris");
    traced = true;
    RequestEphemeris(prn);
  }
  return traced;
}

void CDATWriter::RequestOscillator() const {
  static const std::uint8_t none[1] = {};
  Trace("DAT: Requesting OSC bias");
  Send(kavo::kIdOscillatorRequest, 0, none);
}

void CDATWriter::RequestSelection() const {
  static const std::uint8_t none[1] = {};
  Trace("DAT: Requesting DOP");
  Send(kavo::kIdSelectionRequest, 0, none);
}

void CDATWriter::NoteLost(const std::string& path, std::size_t bytes, int error, bool& told) {
  lostBytes += bytes;
  if (told) return;
  told = true;
  prompts.Notify("cannot write " + path + ": " + std::strerror(error));
}

template <class Write>
bool CDATWriter::WriteRecord(CDATRecord& record, Write&& write) {
  record.ClearWriteError();
  const off_t start = datFd >= 0 ? ::lseek(datFd, 0, SEEK_END) : -1;
  const bool result = write();
  if (record.WriteError() == 0) return result;
  CutBack(datFd, start);
  NoteLost(datPath, record.Length(), record.WriteError(), datFailureTold);
  return result;
}

void CDATWriter::WriteWeekRecord() {
  if (!weekRecord) return;
  weekRecord->SetFileDescriptor(datFd);
  WriteRecord(*weekRecord, [&] { return weekRecord->WriteFromPackets(1); });
}

void CDATWriter::WriteType5Sub2() {
  // A record of its own: the week record's body would be overwritten by the image.
  static const std::uint8_t zeros[kDatLength5Sub2 - kDatHeaderLength] = {};
  CDATRecord5 record(datFd);
  WriteRecord(record, [&] { return record.WriteFromImage(zeros, sizeof zeros, 2); });
}

void CDATWriter::WriteType15() {
  if (!ionosphere || !utc) return;
  CDATRecord15 record(datFd);
  WriteRecord(record, [&] { return record.WriteFromPackets(*ionosphere, *utc); });
}

void CDATWriter::WriteType19(const KavoPacket& time) {
  CDATRecord19 record(datFd);
  WriteRecord(record, [&] { return record.WriteFromTimePacket(time); });
}

bool CDATWriter::WriteType11() {
  if (!position || !velocity || !oscillator || !selection || !measurementRecord) return false;
  CDATRecord11 record(datFd);
  return WriteRecord(record, [&] {
    return record.WriteFromPackets(*position, *velocity, *oscillator, *selection, *measurementRecord);
  });
}

void CDATWriter::WriteType16(std::uint8_t subType, std::size_t length) {
  static const std::uint8_t zeros[16] = {};
  CDATRecord16 record(datFd);
  WriteRecord(record, [&] { return record.WriteFromImage(zeros, length - kDatHeaderLength, subType); });
}

void CDATWriter::WriteType21(const KavoPacket& ephemeris) {
  CDATRecord21 record(datFd);
  WriteRecord(record, [&] { return record.WriteFromPackets(ephemeris); });
}

bool CDATWriter::ComposeType17(const KavoPacket& l1, const KavoPacket* l2, bool write) {
  auto record = std::make_unique<CDATRecord17>(datFd);
  // A record the disk refused is still the latest epoch: it stays the measurement record.
  if (!WriteRecord(*record, [&] { return record->WriteFromPackets(l1, l2, write); })) return false;
  measurementRecord = std::move(record);
  return true;
}

void CDATWriter::FreeKeptPackets() {
  ionosphere.reset();
  utc.reset();
  pendingL1.reset();
  position.reset();
  velocity.reset();
  oscillator.reset();
  selection.reset();
}

void CDATWriter::StartDatLogging(const std::string& datName, bool append) {
  const int newDat = OpenFile(datName, append ? O_APPEND : O_TRUNC);
  if (newDat < 0) {
    ShowOpenFailure(kDatOpenFailed, datName);
    return;
  }
  if (append) CutPartialRecord(datName, newDat);
  const std::string baseName = BaseFileName(datName);
  const int newBase = OpenFile(baseName, append ? O_APPEND : O_TRUNC);
  if (newBase < 0) {
    ::close(newDat);
    ShowOpenFailure(kBaseOpenFailed, baseName);
    return;
  }
  CloseFile(datFd);
  CloseFile(baseFd);
  datFd = newDat;
  baseFd = newBase;
  NewFiles(datName, baseName);

  l1OnlyMode = 0;
  l1Streak = 0;
  datStep = 0;
  needTimeTag = 0;
  ephemerisHave.fill(0);
  Trace("DAT: Setting IO Options for DAT");
  FreeKeptPackets();
  measurementRecord.reset();
  active = 1;
}

void CDATWriter::ReopenDatFile(const std::string& datName) {
  NewFiles(datName, BaseFileName(datName));
  CloseFile(datFd);
  datFd = OpenFile(datName, O_APPEND);
  if (datFd < 0) {
    ShowOpenFailure(kDatOpenFailed, datName);
    return;
  }
  const std::string baseName = BaseFileName(datName);
  CloseFile(baseFd);
  baseFd = OpenFile(baseName, O_APPEND);
  if (baseFd < 0) {
    ShowOpenFailure(kBaseOpenFailed, baseName);
    return;
  }

  // Only the satellites of the latest epoch need their ephemerides in the new file. Before the
  // acquisition's ephemeris round the table is left alone: that round asks for every satellite,
  // into the new file, and marking them all present here would skip it.
  const bool roundBegun = datStep >= kEphemerisRound;
  if (roundBegun) {
    ephemerisHave.fill(1);
    if (measurementRecord) {
      for (std::size_t k = 0; k < CDATRecord17::kMaxBlocks; ++k) {
        const std::uint8_t prn = measurementRecord->SlotPrn(k);
        if (prn >= 1 && prn <= 32) ephemerisHave[prn] = 0;
      }
    }
  }
  if (weekRecord) {
    Trace("DAT: Constructing Type 5 sub 1");
    WriteWeekRecord();
  } else {
    Trace("DAT: No GPS week yet, Type 5 sub 1 not written");
  }
  Trace("DAT: Constructing Type 5 sub 2");
  WriteType5Sub2();
  // Past its type 15 step the acquisition takes no ionosphere or UTC reply, so the new file gets
  // its type 15 from the replies kept.
  if (datStep > kUtcWait && datStep < kSteadyState && ionosphere && utc) {
    Trace("DAT: Constructing Type 15");
    WriteType15();
  }
  if (roundBegun) RequestMissingEphemerides();
  RequestIonosphere();
  RequestUtc();
  needTimeTag = 1;
}

void CDATWriter::StopDatLogging() {
  active = 0;
  FreeKeptPackets();
  measurementRecord.reset();
  weekRecord.reset();
  CloseFile(datFd);
  CloseFile(baseFd);
}

void CDATWriter::PostPacket(std::uint8_t id, std::uint16_t length, const std::uint8_t* data,
                            std::uint8_t checksumOk) {
  if (active == 0) return;
  if (length > kKavoMaxData || (length > 0 && data == nullptr)) return;
  KavoPacket packet;
  packet.id = id;
  packet.length = length;
  if (length > 0) std::memcpy(packet.data, data, length);
  packet.checksumOk = checksumOk;

  RelayCmr(packet);
  Step(&packet);
  while (active != 0 && ActsWithoutPacket(datStep)) Step(nullptr);
}

void CDATWriter::RelayCmr(const KavoPacket& packet) {
  if (baseFd < 0 || packet.id != kavo::kIdWrapped || packet.length < 6) return;
  const std::uint8_t* d = packet.data;
  if (d[0] != 2 || d[1] != 1 || (d[5] != kCmr93 && d[5] != kCmr94)) return;
  const std::size_t count = d[2];
  if (3 + count > packet.length) return;  // the message would run past the packet
  char line[48];
  std::snprintf(line, sizeof line, "R CMR Type:0x%2X Len:%d", d[5], static_cast<int>(count));
  if (lineFn) lineFn(line);
  const off_t start = ::lseek(baseFd, 0, SEEK_END);
  const int error = DatWriteBytes(baseFd, d + 3, count);
  if (error == 0) return;
  CutBack(baseFd, start);
  NoteLost(basePath, count, error, baseFailureTold);
}

void CDATWriter::NewFiles(const std::string& datName, const std::string& baseName) {
  datPath = datName;
  basePath = baseName;
  lostBytes = 0;
  datFailureTold = false;
  baseFailureTold = false;
}

void CDATWriter::CheckDeadline() {
  if (Now() > replyDeadline) --datStep;
}

void CDATWriter::Step(const KavoPacket* packet) {
  // Between the ephemeris round and the steady state only a file change asks for ephemerides (of
  // the satellites still marked missing); their replies go into the new file.
  if (packet != nullptr && datStep > kEphemerisWaitState && datStep < kSteadyState && IsEphemeris(*packet) &&
      packet->data[4] <= 32 && ephemerisHave[packet->data[4]] == 0) {
    WriteType21(*packet);
    ephemerisHave[packet->data[4]] = 1;
    return;
  }
  switch (datStep) {
    case 0:
      if (!IsTime(*packet)) break;
      if (!weekRecord) {
        weekRecord = std::make_unique<CDATRecord5>(datFd);
        weekRecord->SetGpsWeek(ReadBe16(packet->data + 4));
      }
      datStep = 1;
      break;
    case 1:
      Trace("DAT: Constructing Type 5 sub 1");
      WriteWeekRecord();
      datStep = 2;
      break;
    case 2:
      datStep = 3;
      break;
    case 3:
      Trace("DAT: Constructing Type 5 sub 2");
      WriteType5Sub2();
      datStep = 4;
      break;
    case 4:
      RequestCmr();
      datStep = 5;
      break;
    case 5:
      RequestIonosphere();
      replyDeadline = Now() + kIonoUtcWait;
      datStep = 6;
      break;
    case 6:
      if (IsIonosphere(*packet)) {
        ionosphere = *packet;
        datStep = 7;
      } else {
        CheckDeadline();
      }
      break;
    case 7:
      RequestUtc();
      replyDeadline = Now() + kIonoUtcWait;
      datStep = 8;
      break;
    case 8:
      if (IsUtc(*packet)) {
        utc = *packet;
        Trace("DAT: Constructing Type 15");
        WriteType15();
        datStep = 9;
      } else {
        CheckDeadline();
      }
      break;
    case 9:
      if (!IsL1(*packet)) break;
      pendingL1 = *packet;
      l1Streak = 0;
      datStep = 10;
      break;
    case 10:
      if (IsL1(*packet)) {
        if (!L1LengthOk(*packet)) {
          datStep = 9;
          break;
        }
        // The latest epoch stands in for the one waiting, so an L2 packet pairs with its own L1.
        pendingL1 = *packet;
        const bool longStreak = l1Streak > 10;
        ++l1Streak;
        if (!longStreak) break;
        l1OnlyMode = 1;
        const bool composed = ComposeType17(*pendingL1, nullptr, false);
        pendingL1.reset();
        datStep = composed ? 11 : 9;
      } else if (IsL2(*packet) && pendingL1) {
        l1Streak = 0;
        bool composed = false;
        if (L1LengthOk(*pendingL1) && packet->checksumOk != 0) {
          Trace("DAT: Constructing Type 17    ( MEASUREMENTS )");
          composed = ComposeType17(*pendingL1, packet, false);
        }
        pendingL1.reset();
        datStep = composed ? 11 : 9;
      }
      break;
    case 11:
      // Nothing missing (possible after a file change) means nothing to wait for.
      if (RequestMissingEphemerides()) {
        replyDeadline = Now() + kEphemerisWait;
        datStep = 12;
      } else {
        datStep = 13;
      }
      break;
    case 12:
      if (IsEphemerisType(*packet)) {
        if (!IsEphemeris(*packet)) break;
        WriteType21(*packet);
        // Replies for PRNs above 32 are kept in the file but have no place in the table.
        const std::uint8_t prn = packet->data[4];
        if (prn <= 32) ephemerisHave[prn] = 1;
        bool all = true;
        for (int p = 1; p <= 32; ++p) all = all && ephemerisHave[p] != 0;
        if (all) datStep = 13;
      } else {
        CheckDeadline();
      }
      break;
    case 13:
      datStep = 14;
      break;
    case 14:
      Trace("DAT: Constructing Type 16 sub 27");
      WriteType16(27, kDatLength16Sub27);
      datStep = 15;
      break;
    case 15:
      datStep = 16;
      break;
    case 16:
      Trace("DAT: Constructing Type 16 sub 43");
      WriteType16(43, kDatLength16Sub43);
      datStep = 17;
      break;
    case 17:
      if (!IsTime(*packet)) break;
      Trace("DAT: Constructing Type 19 sub 5");
      WriteType19(*packet);
      datStep = 18;
      break;
    case 18:
      RequestOscillator();
      replyDeadline = Now() + kOscillatorWait;
      datStep = 19;
      break;
    case 19:
      if (IsOscillator(*packet)) {
        oscillator = *packet;
        Trace("DAT: Got Osc data...");
        datStep = 20;
      } else {
        CheckDeadline();
      }
      break;
    case 20:
      RequestSelection();
      datStep = 21;
      break;
    case 21:
      if (!IsSelection(*packet)) break;
      selection = *packet;
      Trace("DAT: Got PDOP data...");
      datStep = 22;
      break;
    case 22:
      if (!IsVelocity(*packet)) break;
      velocity = *packet;
      Trace("DAT: Got Velocity Data");
      datStep = 23;
      break;
    case 23:
      if (!IsPosition(*packet)) break;
      position = *packet;
      Trace("DAT: Received POS");
      Trace("DAT: Constructing Type 11  ( Position )");
      WriteType11();
      position.reset();
      velocity.reset();
      oscillator.reset();
      selection.reset();
      datStep = kSteadyState;
      break;
    case kSteadyState:
      SteadyState(*packet);
      break;
    default:
      break;
  }
}

void CDATWriter::SteadyState(const KavoPacket& packet) {
  switch (packet.id) {
    case kavo::kIdTime:
      if (IsTime(packet) && needTimeTag != 0) {
        Trace("DAT: Constructing Type 19 sub 5");
        WriteType19(packet);
        needTimeTag = 0;
      }
      break;
    case kavo::kIdOscillator:
    case kavo::kIdVelocity:
    case kavo::kIdSelection:
    case kavo::kIdLlaPosition: {
      std::optional<KavoPacket>* kept = nullptr;
      if (IsOscillator(packet)) kept = &oscillator;
      if (IsVelocity(packet)) kept = &velocity;
      if (IsSelection(packet)) kept = &selection;
      if (IsPosition(packet)) kept = &position;
      if (kept == nullptr) break;  // failed its test
      *kept = packet;
      if (packet.id == kavo::kIdLlaPosition) {
        RequestSelection();
        RequestOscillator();
      }
      if (position && velocity && oscillator && selection) {
        Trace("WRITING POSITION MESSAGE\n");
        WriteType11();
        // Oscillator and selection serve the next epoch too.
        position.reset();
        velocity.reset();
      }
      break;
    }
    case kavo::kIdDataReply:
      if (IsEphemeris(packet)) {
        Trace("DAT: Constructing Type 21   ( Ephemeris )");
        WriteType21(packet);
      } else if (IsIonosphere(packet)) {
        ionosphere = packet;
        Trace("DAT: Constructing Type 15 (Got New Iono)");
        WriteType15();
      } else if (IsUtc(packet)) {
        utc = packet;
        Trace("DAT: Constructing Type 15 (Got New UTC)");
        WriteType15();
      }
      break;
    case kavo::kIdMeasurement:
      if (IsL2(packet)) {
        if (packet.checksumOk == 0) {
          pendingL1.reset();
          break;
        }
        l1OnlyMode = 0;
        if (pendingL1) {
          Trace("DAT: Constructing Type 17    ( MEASUREMENTS )");
          ComposeType17(*pendingL1, &packet, true);
          pendingL1.reset();
        }
      } else if (IsL1(packet) && L1LengthOk(packet)) {
        pendingL1 = packet;
        if (l1OnlyMode != 0) {
          Trace("DAT: Constructing L1Only Type 17    ( MEASUREMENTS )");
          ComposeType17(*pendingL1, nullptr, true);
          pendingL1.reset();
        }
      }
      break;
    default:
      break;
  }
}
