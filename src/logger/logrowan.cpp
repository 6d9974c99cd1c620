#include "logger/logrowan.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/protocol/kavo_ids.h"
#include "logger/guidance_lines.h"
#include "logger/packet_dispatch.h"
#include "logger/satellite_lines.h"

namespace {

constexpr double kTimeRequestInterval = 2.0;  // seconds between 0x21 requests while waiting
constexpr std::uint16_t kMaxTimeRequests = 5;
constexpr std::uint16_t kMaxOpenAttempts = 5;
constexpr double kConfigTimeout = 10.0;
// Hour code used when the receiver never told the time: equal to openedHourCode, so the session
// runs without a file.
constexpr std::uint32_t kNoTimeHourCode = 1;
constexpr const char* kDisplayStation = "Plowview";
constexpr const char* kOpenFailedMessage =
    "Unable to open logging file.\n Is someone else using the same file?";
constexpr double kLogVersion = 3.2;
constexpr char kLogVersionLetter = 'A';

// Replaces the trailing ".log" of `path` by `extension`.
std::string WithExtension(const std::string& path, const char* extension) {
  const std::string log = ".log";
  if (path.size() >= log.size() && path.compare(path.size() - log.size(), log.size(), log) == 0)
    return path.substr(0, path.size() - log.size()) + extension;
  return path + extension;
}

}  // namespace

bool SendCommand(ILogLineContext& context, std::uint8_t id, const std::uint8_t* data, std::uint16_t length,
                 int withChecksum) {
  KavoPacket packet;
  packet.id = id;
  packet.length = std::min<std::uint16_t>(length, 40);
  if (packet.length > 0) std::memcpy(packet.data, data, packet.length);
  return context.SendReceiverCommand(packet, withChecksum);
}

CLogrowan::CLogrowan(ILoggerHost& host, const IClock& clock, IPrompts& prompts, ArchiveFunction archive)
    : host(host), clock(clock), prompts(prompts), archive(std::move(archive)) {}

CLogrowan::~CLogrowan() {
  StopDatFile();
  logFile.Close();
  if (rawLogWriter) rawLogWriter->Close();
}

void CLogrowan::SetConfigurationReport(std::unique_ptr<IConfigurationReport> report) {
  configurationReport = std::move(report);
}
void CLogrowan::SetRawPacketLog(std::unique_ptr<IRawPacketLog> log) {
  rawLogWriter = std::move(log);
}
void CLogrowan::SetQ0xWriter(std::unique_ptr<IQ0xWriter> writer) {
  q0xWriter = std::move(writer);
}
void CLogrowan::SetDatLog(std::unique_ptr<IDatLog> log) {
  StopDatFile();
  datLog = std::move(log);
}

void CLogrowan::ResetSession(LogOptions options, const std::string& stationName) {
  session = LoggerSession{};
  session.options = options;
  std::snprintf(session.station, sizeof session.station, "%.20s", stationName.c_str());
  session.prefixChar = session.station[0];
  session.state = LogState::RequestTime;
}

void CLogrowan::StartLogging(LogOptions options) {
  if (fileLogging) return;
  if (displayOnly) {
    ShutdownSession();
    displayOnly = false;
  }
  EmptyQueue();
  prefix = host.LoggingPrefix();
  ResetSession(options, prefix);
  fileLogging = true;
  datWanted = datLog && datLog->Wanted();
  if ((options & kLogQ0x) && q0xWriter) q0xWriter->ResetPacketCount();
}

void CLogrowan::ChangeOptionsFromNextHour(LogOptions options) {
  if (!fileLogging) return;
  pendingOptions = options;
  optionsPending = true;
}

void CLogrowan::TakePendingOptions() {
  optionsPending = false;
  const LogOptions before = session.options;
  const LogOptions next = (pendingOptions & ~kLogPassive) | (before & kLogPassive);
  if (next == before) return;
  if (q0xWriter && (before & kLogQ0x) && !(next & kLogQ0x)) q0xWriter->StopStream();
  if (q0xWriter && !(before & kLogQ0x) && (next & kLogQ0x)) q0xWriter->ResetPacketCount();
  // Every bit but the two side files changes what the receiver is asked to send: its outputs are
  // switched off under the old word and set up again under the new one.
  if (((before ^ next) & ~(kLogQ0x | kLogKavo)) != 0 && !(next & kLogPassive)) {
    DisableLoggingOutputs();
    session.configured = false;
  }
  session.options = next;
  optionsNotePending = true;
}

void CLogrowan::StopLogging() {
  if ((session.options & kLogQ0x) && q0xWriter && (fileLogging || displayOnly)) q0xWriter->StopStream();
  ShutdownSession();
  fileLogging = false;
  displayOnly = false;
  optionsPending = false;
}

void CLogrowan::ProcessLogger() {
  if (!fileLogging && !displayOnly) {
    displayOnly = true;
    ResetSession(kLogPassive, kDisplayStation);
  }
  if (session.state != LogState::Logging) {
    StepStateMachine();
    return;
  }
  // Only the packets that were there on entry: a fast stream cannot keep this tick going.
  const std::size_t pending = queue.size();
  for (std::size_t i = 0; i < pending; ++i) StepStateMachine();
}

void CLogrowan::QueuePacket(const KavoPacket& packet) {
  if (!fileLogging && !displayOnly) return;
  queue.push_back(std::make_unique<KavoPacket>(packet));
}

bool CLogrowan::TakePacket(KavoPacket& packet) {
  if (queue.empty()) return false;
  packet = *queue.front();
  queue.pop_front();
  manifest.NotePacket(packet, Now());
  if ((session.options & kLogQ0x) && q0xWriter) q0xWriter->TakePacket(packet);
  if ((session.options & kLogKavo) && rawLogWriter) rawLogWriter->Write(packet);
  if (datRunning) datLog->Post(packet);
  return true;
}

void CLogrowan::EmptyQueue() {
  queue.clear();
}

void CLogrowan::AddListener(CLogrowanListener* listener) {
  if (listener == nullptr) return;
  if (std::find(listeners.begin(), listeners.end(), listener) == listeners.end())
    listeners.push_back(listener);
}

void CLogrowan::RemoveListener(CLogrowanListener* listener) {
  listeners.erase(std::remove(listeners.begin(), listeners.end(), listener), listeners.end());
}

void CLogrowan::WriteLine(const char* text) {
  if (!fileLogging && !displayOnly) return;
  lineBuffer.assign(text);
  if (lineBuffer.empty() || lineBuffer.back() != '\n') lineBuffer.push_back('\n');
  // By index: a listener may remove itself while being told.
  for (std::size_t i = 0; i < listeners.size(); ++i) listeners[i]->OnLogLine(lineBuffer);
  if (fileLogging && logFile.IsOpen()) WriteToLogFile(lineBuffer);
  // The reconnection's lines are counted where they enter the log, so the manifest and the log
  // agree whoever writes them.
  if (fileLogging && lineBuffer.compare(0, 7, "* Link ") == 0) {
    if (lineBuffer.compare(0, 11, "* Link lost") == 0) manifest.NoteLinkLost();
    if (lineBuffer.compare(0, 15, "* Link restored") == 0) manifest.NoteLinkRestored();
  }
}

void CLogrowan::WriteToLogFile(const std::string& text) {
  // Lines were lost and the file may take text again: the note goes first, where the gap is
  // (in a new hour's file, after its header).
  if (unnotedLostLines > 0 && headerWritten) {
    char note[80];
    const int n = std::snprintf(note, sizeof note, "* %llu log lines could not be written\n",
                                static_cast<unsigned long long>(unnotedLostLines));
    if (logFile.Write(note, static_cast<std::size_t>(n), false)) unnotedLostLines = 0;
  }
  logFile.Write(text.data(), text.size());
  TakeLogFileLosses();
}

// Moves what the text log lost since the last look into the count for the next note, and says the
// first failure of each file.
void CLogrowan::TakeLogFileLosses() {
  const std::uint64_t lost = logFile.LostLines();
  if (lost > lostLinesSeen) unnotedLostLines += lost - lostLinesSeen;
  lostLinesSeen = lost;
  if (logFile.LastError() == 0 || logWriteReported) return;
  logWriteReported = true;
  writeFailed = true;
  prompts.Notify("cannot write " + logWritePath + ": " + std::strerror(logFile.LastError()));
}

void CLogrowan::CloseLogFile() {
  if (!logFile.IsOpen()) return;
  logFile.Close();
  TakeLogFileLosses();
}

void CLogrowan::NoteHourLosses() {
  std::uint64_t bytes = logFile.LostBytes();
  if (rawLogWriter) bytes += rawLogWriter->LostBytes();
  if (datRunning) bytes += datLog->LostBytes();
  if (bytes > 0) writeFailed = true;
  manifest.NoteLost(logFile.LostLines(), bytes);
}

bool CLogrowan::FinishManifest(const std::string& logPath) {
  if (!manifest.IsOpen()) return false;
  if (manifest.Finish(logPath)) return true;
  writeFailed = true;
  const int error = manifest.WriteError();
  prompts.Notify("cannot write " + CHourManifest::PathFor(logPath) + ": " +
                 std::strerror(error != 0 ? error : EIO));
  return false;
}

bool CLogrowan::SendReceiverCommand(const KavoPacket& packet, int withChecksum) {
  if (session.options & kLogPassive) return false;
  return host.SendToReceiver(packet, withChecksum);
}

bool CLogrowan::Send(std::uint8_t id, std::initializer_list<std::uint8_t> data, int withChecksum) {
  return SendCommand(*this, id, data.begin(), static_cast<std::uint16_t>(data.size()), withChecksum);
}

double CLogrowan::Now() const {
  return static_cast<double>(clock.NowMs()) / 1000.0;
}

void CLogrowan::StepStateMachine() {
  switch (session.state) {
    case LogState::Idle:
      break;
    case LogState::RequestTime:
      Send(kavo::kIdTimeRequest, {}, 0);
      session.stateTime = Now();
      ++session.timeRequests;
      session.state = LogState::AwaitTime;
      break;
    case LogState::AwaitTime:
      StepAwaitTime();
      break;
    case LogState::OpenFile:
      StepOpenFile();
      break;
    case LogState::RequestConfig:
      DisableLoggingOutputs();
      EmptyQueue();
      if (configurationReport) configurationReport->RequestConfiguration(*this);
      session.stateTime = Now();
      session.state = LogState::AwaitConfig;
      break;
    case LogState::AwaitConfig:
      StepAwaitConfig();
      break;
    case LogState::ConfigureReceiver: {
      EmptyQueue();
      ConfigureForLogging();
      Send(kavo::kIdSuperRequest, {kavo::kSubFirmwareIdentity}, 1);
      RequestGuidanceConfig(*this, true);
      const double now = Now();
      session.next1s = session.next5s = session.next60s = now;
      session.state = LogState::Logging;
      break;
    }
    case LogState::Logging:
      StepLogging();
      break;
    case LogState::Failed:
      FailSession();
      break;
  }
}

void CLogrowan::StepAwaitTime() {
  KavoPacket packet;
  if (TakePacket(packet) && packet.id == kavo::kIdTime) DecodeTimePacket(packet, *this);
  if (session.timeValid) {
    session.openAttempts = 0;
    session.state = LogState::OpenFile;
    return;
  }
  if (Now() - session.stateTime <= kTimeRequestInterval) return;
  if (session.timeRequests < kMaxTimeRequests) {
    session.state = LogState::RequestTime;
    return;
  }
  // The receiver never told the time: go on without a file, lines reach the listeners only.
  session.hourCode = kNoTimeHourCode;
  session.timeValid = true;
  session.openedHourCode = kNoTimeHourCode;
  session.openAttempts = 0;
  session.state = LogState::OpenFile;
}

void CLogrowan::StepOpenFile() {
  char name[32];
  const long code = session.timeValid ? static_cast<long>(session.hourCode) : 0L;
  std::snprintf(name, sizeof name, "%c%7.7ld.log", session.prefixChar, code);
  if (OpenLogFile(name)) {
    if (!(session.options & kLogPassive) && !session.configured) {
      session.configured = true;
      session.state = LogState::RequestConfig;
    } else {
      session.state = LogState::Logging;
    }
    return;
  }
  if (++session.openAttempts >= kMaxOpenAttempts) session.state = LogState::Failed;
}

void CLogrowan::StepAwaitConfig() {
  bool complete = false;
  KavoPacket packet;
  if (TakePacket(packet) && configurationReport) complete = configurationReport->TakePacket(packet, *this);
  if (complete || Now() - session.stateTime > kConfigTimeout) session.state = LogState::ConfigureReceiver;
}

void CLogrowan::StepLogging() {
  if (static_cast<std::int64_t>(session.hourCode) != session.openedHourCode) {
    session.openAttempts = 0;
    session.state = LogState::OpenFile;
    return;
  }
  KavoPacket packet;
  if (TakePacket(packet)) DispatchPacket(packet, *this);
  if (!(session.options & kLogPassive)) PeriodicRequests();
}

void CLogrowan::FailSession() {
  if ((session.options & kLogQ0x) && q0xWriter) q0xWriter->StopStream();
  fileLogging = false;
  displayOnly = false;
  ShutdownSession();
  host.Disconnect();
  prompts.MessageBox(kOpenFailedMessage, "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
}

void CLogrowan::ShutdownSession() {
  if (session.state == LogState::Idle) return;
  // Closed without archiving: only an hour change hands a file to the archive.
  const std::string closedPath = logFile.IsOpen() ? logFile.Path() : std::string();
  CloseLogFile();
  if (rawLogWriter) rawLogWriter->Close();
  if (!closedPath.empty()) NoteHourLosses();
  StopDatFile();
  if (!closedPath.empty()) FinishManifest(closedPath);
  if (!(session.options & kLogPassive)) DisableLoggingOutputs();
  session.state = LogState::Idle;
}

void CLogrowan::OpenDatFile(const std::string& logPath) {
  if (!datWanted || !datLog) return;
  const std::string datPath = WithExtension(logPath, ".dat");
  if (datRunning) {
    datLog->Reopen(datPath);
  } else {
    datLog->Start(datPath);
    datRunning = true;
  }
}

void CLogrowan::StopDatFile() {
  if (!datRunning) return;
  datRunning = false;
  datLog->Stop();
}

bool CLogrowan::OpenLogFile(const char* name) {
  if (!fileLogging && !session.timeValid) return false;
  if (fileLogging && static_cast<std::int64_t>(session.hourCode) == session.openedHourCode) return true;
  if (displayOnly) {
    // No file, but the session must know its hour, or Logging would return here on every tick.
    session.openedHourCode = session.hourCode;
    return true;
  }
  if (logFile.IsOpen()) {
    closedLogPath = logFile.Path();
    closedZipName = currentZipName;
    CloseLogFile();
    if (rawLogWriter) rawLogWriter->Close();
    NoteHourLosses();
    // Before the archive starts, so that the manifest is zipped with the hour's files.
    manifestNotePending = FinishManifest(closedLogPath);
    StartArchiveWorker(archive,
                       ClosedLogFile{closedLogPath, closedZipName, prefix, session.options, datWanted});
    if (optionsPending) TakePendingOptions();
  }

  const std::string folder = host.LoggingFolder();
  const std::string tail = name + 1;  // the name after its prefix character
  const std::string fileName = prefix + tail;
  const std::string path = folder.empty() ? fileName : folder + "/" + fileName;

  if ((session.options & kLogQ0x) && q0xWriter) q0xWriter->SetFolder(folder);
  if ((session.options & kLogKavo) && rawLogWriter) rawLogWriter->Open(WithExtension(path, ".kavo"));
  if (!logFile.Open(path)) return false;
  logWritePath = path;
  logWriteReported = false;
  lostLinesSeen = 0;
  headerWritten = false;
  OpenDatFile(path);

  currentZipName = WithExtension(fileName, ".zip");
  session.openedHourCode = session.hourCode;
  char header[512];
  std::snprintf(header, sizeof header,
                "*********************************\n"
                "* LogRowan Version %4.2lf %c       *\n"
                "* File opened                   *\n"
                "* Station: %-20s *\n"
                "* UTC %02d/%02d/%04d %02d             *\n"
                "*********************************\n",
                kLogVersion, kLogVersionLetter, session.station, session.month, session.day, session.year,
                session.hour);
  WriteLine(header);
  headerWritten = true;
  manifest.Begin(session.hourCode, session.station, session.year, session.month, session.day, session.hour);
  if (manifestNotePending) {
    manifestNotePending = false;
    WriteLine("* Manifest written");
  }
  if (optionsNotePending) {
    optionsNotePending = false;
    char note[64];
    std::snprintf(note, sizeof note, "* Logging options changed to 0x%04X",
                  static_cast<unsigned>(session.options));
    WriteLine(note);
  }
  return true;
}

void CLogrowan::ConfigureForLogging() {
  const LogOptions o = session.options;
  const std::uint8_t position =
      static_cast<std::uint8_t>(((o & kLogEcefFixes) ? 0x19 : 0x1A) | ((o & kLogMslHeight) ? 0x04 : 0));
  const std::uint8_t auxiliary = static_cast<std::uint8_t>(0x08 | ((o & kLogRawFixes) ? 0x10 : 0) |
                                                           ((o & kLogReferenceFixes) ? 0x40 : 0));
  Send(kavo::kIdIoOptions, {position, 0x02, 0x18, auxiliary}, 0);
  // Bytes 4 and 5 of the NMEA command are sent as zero.
  if (o & kLogNmea) Send(kavo::kIdNmeaControl, {0x07, 0xFF, 0x01, 0x00, 0x00}, 0);
  Send(kavo::kIdFixAutoReport, {0x01, 0x00, 0x03, 0x00}, 0);
  Send(kavo::kIdSuperRequest, {kavo::kSubCorrectionSource}, 1);

  // The receiver's time stays as the last time packet left it: the set-up comes right after the
  // time packet that opened the file, and the summary's "T" line needs that time from its first line.
  session.coldResetSeen = false;
  session.dgpsMode = kDgpsModeUnknown;
  Send(kavo::kIdDgpsModeRequest, {}, 0);

  session.correction = CorrectionSourceReport{};
  session.guidanceRateChangePending = false;
  session.guidanceRateOn = false;
  Send(kavo::kIdSuperRequest, {kavo::kSubSubscription, 0x03, 0x00, 0x00}, 1);
  Send(kavo::kIdSuperRequest, {kavo::kSubSubscription, 0x04, 0x00, 0x00}, 1);
  Send(kavo::kIdEphemerisStatusRequest, {0x00}, 0);
  Send(kavo::kIdDebugOutput, {0x02, 0x01}, 0);
  RequestGuidanceConfig(*this, true);

  const std::uint8_t mask = static_cast<std::uint8_t>(((o & kLogWidePortMask) ? 0x07 : 0x03) |
                                                      ((o & kLogTiltAdjustments) ? 0x08 : 0));
  for (std::uint8_t port = 0; port < 2; ++port)
    Send(kavo::kIdSuperRequest, {kavo::kSubPortOutputs, port, mask, 0x00, 0x00, 0x00, 0x00}, 1);
  if (o & kLogSyncMeasurements) Send(kavo::kIdSyncMeasurements, {0x01, 0x03, 0x01}, 0);
  WriteLine("* Receiver now configured for logrowan logging.");
}

void CLogrowan::DisableLoggingOutputs() {
  Send(kavo::kIdDebugOutput, {0x02, 0x00}, 0);
  for (std::uint8_t port = 0; port < 2; ++port)
    Send(kavo::kIdSuperRequest, {kavo::kSubPortOutputs, port, 0x00, 0x00, 0x00, 0x00, 0x00}, 1);
  Send(kavo::kIdFixAutoReport, {0x01, 0x00, 0x02, 0x00}, 0);
  Send(kavo::kIdSuperRequest, {kavo::kSubCorrectionSource}, 1);
  if (session.options & kLogNmea) Send(kavo::kIdNmeaControl, {0x07, 0xFF, 0x00, 0x00, 0x00}, 0);
}

void CLogrowan::PeriodicRequests() {
  const double now = Now();
  LoggerSession& s = session;
  if (now > s.next1s || s.forceRequests) {
    const std::uint16_t source = s.correction.source;
    if (source == 6 || (source >= 8 && source <= 13)) {
      Send(kavo::kIdSuperRequest, {kavo::kSubOrbitServiceStatus, 0x02}, 1);
    } else if (source == 7) {
      Send(kavo::kIdRtkRequest, {0x32, 0x03, 0x00}, 1);
      Send(kavo::kIdRtkRequest, {0x32, 0x08, 0x00}, 1);
      Send(kavo::kIdRtkRequest, {0x32, 0x07, 0x00}, 1);
    }
    Send(kavo::kIdCorrectionStatusRequest, {0x00}, 0);
    Send(kavo::kIdTrackingStatusRequest, {0x00}, 0);
    Send(kavo::kIdTimeRequest, {}, 0);
    Send(kavo::kIdSuperRequest, {kavo::kSubCorrectionStatus}, 1);
    s.next1s = now + 1.0;
  }
  if (now > s.next5s || s.forceRequests) {
    WriteSatelliteSummary(*this);
    if (s.options & kLogEngineeringInfo) Send(kavo::kIdAdcRequest, {}, 0);
    s.next5s = now + 5.0;
  }
  if (now > s.next60s || s.forceRequests) {
    Send(kavo::kIdSuperRequest, {kavo::kSubSubscription, 0x03, 0x00, 0x00}, 1);
    Send(kavo::kIdSuperRequest, {kavo::kSubSubscription, 0x04, 0x00, 0x00}, 1);
    Send(kavo::kIdSuperRequest, {kavo::kSubSubscriptionStatus, 0x03, 0x00, 0x00}, 1);
    Send(kavo::kIdSuperRequest, {kavo::kSubSubscriptionStatus, 0x04, 0x00, 0x00}, 1);
    Send(kavo::kIdSuperRequest, {kavo::kSubSpotStations}, 1);
    s.next60s = now + 60.0;
  }
  s.forceRequests = false;
}
