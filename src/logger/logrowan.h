#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "link/protocol/clock.h"
#include "link/protocol/kavo_packet.h"
#include "link/protocol/prompts.h"
#include "logger/hour_manifest.h"
#include "logger/log_archiver.h"
#include "logger/log_file.h"
#include "logger/log_line_context.h"
#include "logger/logger_host.h"
#include "logger/logger_seams.h"
#include "logger/logger_session.h"
#include "logger/logrowan_listener.h"

// The diagnostic logger: turns the receiver's packets into an hourly text log and hands every
// line to its listeners. One session at a time: a file session (StartLogging ... StopLogging) or,
// when ProcessLogger runs without one, a display-only session whose lines reach the listeners
// only. All operations run on one thread (the program's user-interface thread); the only other
// thread is the archiving worker started for each closed file, which gets copies of what it needs.
//
// The host, clock and prompts must outlive the logger; listeners must be removed before they die.
class CLogrowan : public ILogLineContext {
 public:
  CLogrowan(ILoggerHost& host, const IClock& clock, IPrompts& prompts,
            ArchiveFunction archive = ArchivePreviousFile);
  ~CLogrowan() override;
  CLogrowan(const CLogrowan&) = delete;
  CLogrowan& operator=(const CLogrowan&) = delete;

  // Seams for the configuration report and the raw side files; each may stay unset.
  void SetConfigurationReport(std::unique_ptr<IConfigurationReport> report);
  void SetRawPacketLog(std::unique_ptr<IRawPacketLog> log);
  void SetQ0xWriter(std::unique_ptr<IQ0xWriter> writer);
  void SetDatLog(std::unique_ptr<IDatLog> log);

  // Starts a file session with the "m_logOptions" word; ignored while one runs. Ends a
  // display-only session first.
  void StartLogging(LogOptions options);
  // Ends whatever session runs (the file is closed without archiving).
  void StopLogging();
  // A new "m_logOptions" word for the running file session, taken at its next hour change: the
  // closed hour is archived with the old word, the new hour's side files follow the new one, and
  // when the receiver's outputs depend on the change the new hour starts with the configuration
  // report and the set-up, as a session's first hour does. The passive bit is kept as it is.
  void ChangeOptionsFromNextHour(LogOptions options);
  // One tick of the 50 ms timer: starts a display-only session when none runs, then steps the
  // state machine once, or in Logging once per packet queued on entry.
  void ProcessLogger();
  // Queues a copy when a session runs; drops it otherwise.
  void QueuePacket(const KavoPacket& packet);
  // Removes the oldest queued packet into `packet` (and feeds the raw side files); false when
  // the queue is empty.
  bool TakePacket(KavoPacket& packet);

  void AddListener(CLogrowanListener* listener);
  void RemoveListener(CLogrowanListener* listener);

  // ILogLineContext
  LoggerSession& Session() override { return session; }
  void WriteLine(const char* text) override;
  bool SendReceiverCommand(const KavoPacket& packet, int withChecksum) override;
  double Now() const override;
  void ConfigureForLogging() override;

  void DisableLoggingOutputs();

  bool FileLogging() const { return fileLogging; }
  bool DisplayOnly() const { return displayOnly; }
  LogState State() const { return session.state; }
  std::size_t QueuedPackets() const { return queue.size(); }
  const std::string& CurrentLogPath() const { return logFile.Path(); }
  // Collects the text log's lines into writes of up to `bytes` (0, the default: a write per line,
  // so a crash loses nothing). For replays.
  void SetLogFileBuffer(std::size_t bytes) { logFile.SetWriteBuffer(bytes); }
  const std::string& CurrentZipName() const { return currentZipName; }
  const IClock& Clock() const { return clock; }

  // The health summary of the open hour, written as B.manifest when its text log closes.
  const CHourManifest& Manifest() const { return manifest; }
  // Frames the link's parser dropped since the last call; link losses and restores (WriteLine
  // counts its "* Link lost" and "* Link restored" lines by itself).
  void NoteDroppedFrames(std::uint64_t count) { manifest.NoteDroppedFrames(count); }
  void NoteLinkLost() { manifest.NoteLinkLost(); }
  void NoteLinkRestored() { manifest.NoteLinkRestored(); }

  // Some text log line, raw packet or DAT record of the session could not be written, or an hour's
  // manifest could not be. Each such file's first failure is told through the prompts' Notify
  // ("cannot write PATH: REASON") and the session goes on; the losses are in the hour's manifest.
  bool WriteFailed() const { return writeFailed; }

 private:
  void ResetSession(LogOptions options, const std::string& stationName);
  void StepStateMachine();
  void StepAwaitTime();
  void StepOpenFile();
  void StepAwaitConfig();
  void StepLogging();
  void FailSession();
  void ShutdownSession();
  void SendShutdownCommands();
  void PeriodicRequests();
  bool OpenLogFile(const char* name);
  void EmptyQueue();
  void WriteToLogFile(const std::string& text);
  void TakeLogFileLosses();
  void CloseLogFile();
  // Hands what the hour's files lost to the hour's manifest (before it is finished).
  void NoteHourLosses();
  bool FinishManifest(const std::string& logPath);
  void OpenDatFile(const std::string& logPath);
  void StopDatFile();
  void TakePendingOptions();
  bool Send(std::uint8_t id, std::initializer_list<std::uint8_t> data, int withChecksum);

  ILoggerHost& host;
  const IClock& clock;
  IPrompts& prompts;
  ArchiveFunction archive;
  std::unique_ptr<IConfigurationReport> configurationReport;
  std::unique_ptr<IRawPacketLog> rawLogWriter;
  std::unique_ptr<IQ0xWriter> q0xWriter;
  std::unique_ptr<IDatLog> datLog;
  bool datWanted = false;   // this file session writes DAT files
  bool datRunning = false;  // the DAT log was started and not yet stopped

  LoggerSession session;
  std::string prefix;  // the logging prefix read at session start
  std::string closedLogPath;
  std::string currentZipName;
  std::string closedZipName;
  CLogFile logFile;
  bool fileLogging = false;
  bool displayOnly = false;
  std::deque<std::unique_ptr<KavoPacket>> queue;
  std::vector<CLogrowanListener*> listeners;
  std::string lineBuffer;  // reused by WriteLine so a line costs no allocation
  CHourManifest manifest;
  bool manifestNotePending = false;    // "* Manifest written" goes into the next hour's log
  std::string logWritePath;            // the text log's path, for the failure message after Close
  bool logWriteReported = false;       // the text log's first failure in this file was told
  std::uint64_t lostLinesSeen = 0;     // the file's lost lines already moved to unnotedLostLines
  std::uint64_t unnotedLostLines = 0;  // lost since the last "* N log lines could not be written"
  bool headerWritten = false;          // the open file has its header: the note may follow
  bool writeFailed = false;
  bool optionsPending = false;  // ChangeOptionsFromNextHour was called
  LogOptions pendingOptions = 0;
  bool optionsNotePending = false;  // the new hour's log tells of the changed options
};
