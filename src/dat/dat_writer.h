#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dat/dat_record17.h"
#include "dat/dat_record5.h"
#include "link/protocol/clock.h"
#include "link/protocol/kavo_packet.h"
#include "link/protocol/prompts.h"

// Fills a DAT file and its base CMR file from the receiver's packet stream.
//
// After StartDatLogging the writer walks an acquisition sequence (states 0-23): it writes the
// opening records (type 5 sub-types 1 and 2), requests and writes ionosphere and UTC (type 15),
// waits for a measurement epoch, requests the ephemeris of every satellite (type 21), writes the
// type 16 blocks, a time tag (type 19) and a first position epoch (type 11). Then it stays in the
// steady state (24), where each packet of interest updates its kept copy or writes a record.
// A waiting state that has a deadline steps back to its sending state when a packet it does not
// want arrives after the deadline, so the request goes out again; there is no limit on rounds.
//
// Each PostPacket runs the handler of the current state once; when that handler moves on to a
// state that needs no packet (one that only writes or sends), those states run at once, up to the
// next state that waits for a packet.
//
// Every CMR 93/94 relay packet (0x1A, data 0 = 2, data 1 = 1, data 5 = 0x93 or 0x94) is copied to
// the base file and noted by one log line, in every state.
//
// A record or CMR message the disk refuses (a full disk) is lost whole: what part of it was
// written is cut away again, so both files keep whole records only. The files stay open and the
// next record tries again. The bytes lost are counted (LostBytes), and the first failure of each
// file is told once through the prompts' Notify ("cannot write PATH: REASON").
//
// Not thread-safe: every call comes from the thread that delivers packets. The clock, the prompts
// and the functions given at construction must outlive the writer.
class CDATWriter {
 public:
  // Sends one packet to the receiver; the writer always passes flag 0.
  using SendFn =
      std::function<void(std::uint8_t id, std::uint16_t length, const std::uint8_t* data, int flag)>;
  // Receives each progress text.
  using TraceFn = std::function<void(const char* text)>;
  // The logger's line writer; it ends the line itself.
  using LineFn = std::function<void(const char* text)>;

  static constexpr int kSteadyState = 24;

  // When `send` or `trace` is missing, both become DummySend and DummyTrace. Without
  // `writeLine` the CMR log lines are dropped.
  CDATWriter(SendFn send, TraceFn trace, const IClock& clock, IPrompts& prompts, LineFn writeLine = nullptr);
  ~CDATWriter();
  CDATWriter(const CDATWriter&) = delete;
  CDATWriter& operator=(const CDATWriter&) = delete;

  // Creates or truncates `datName` and its base file (BaseFileName) and starts the acquisition at
  // state 0. A file that cannot be opened is reported by a message box and leaves the writer as
  // it was (files, state and activity). The week record of an earlier session is kept.
  // With `append`, files that exist keep what they hold and the new session's records follow
  // (a session restarted within the hour of its files); a record an earlier writer left cut off at
  // the end of the DAT file is cut away first, so the file stays walkable record by record.
  void StartDatLogging(const std::string& datName, bool append = false);

  // Switches a running session to a new file pair, opened for appending, without leaving the
  // current state: writes the new file's type 5 records, requests the ephemerides of the
  // satellites of the latest measurement epoch and the ionosphere and UTC parameters, and asks
  // for a time tag. Without a week record only type 5 sub-type 2 is written (and a trace says so).
  // During the acquisition, before its ephemeris round, no ephemeris is asked for (the round asks
  // for all of them); after the round the replies to these requests are written while the
  // acquisition goes on; past its type 15 step the new file gets type 15 from the kept replies.
  void ReopenDatFile(const std::string& datName);

  // Takes a copy of one received packet (at most kKavoMaxData bytes of `data` are read; a longer
  // `length` drops the packet). Ignored while the writer is inactive.
  void PostPacket(std::uint8_t id, std::uint16_t length, const std::uint8_t* data, std::uint8_t checksumOk);

  // Inactive; frees every kept packet and record (the week record too); closes both files.
  void StopDatLogging();

  // Stand-ins used when no send or trace function is given: they format their text and drop it.
  static void DummySend(std::uint8_t id, std::uint16_t length, const std::uint8_t* data, int flag);
  static void DummyTrace(const char* text);

  // `datName` with its ".dat" ending replaced by "_base.cmr" ("_base.cmr" appended when it does
  // not end in ".dat", so the two files never share a name).
  static std::string BaseFileName(const std::string& datName);

  // Bytes of records and CMR messages that could not be written to the current DAT and base files,
  // since they were opened (StartDatLogging, ReopenDatFile).
  std::uint64_t LostBytes() const { return lostBytes; }

  int DatStep() const { return datStep; }
  bool IsActive() const { return active != 0; }
  bool L1OnlyMode() const { return l1OnlyMode != 0; }
  int L1Streak() const { return l1Streak; }
  bool NeedTimeTag() const { return needTimeTag != 0; }
  // 1 when the ephemeris of `prn` (0-32) was received or is not needed.
  bool HasEphemeris(int prn) const { return prn >= 0 && prn <= 32 && ephemerisHave[prn] != 0; }
  const CDATRecord17* MeasurementRecord() const { return measurementRecord.get(); }
  const CDATRecord5* WeekRecord() const { return weekRecord.get(); }

 private:
  double Now() const;
  void Trace(const char* text) const;
  void Send(std::uint8_t id, std::uint16_t length, const std::uint8_t* data) const;
  void ShowOpenFailure(const char* format, const std::string& name) const;

  // Requests.
  void RequestCmr() const;
  void RequestIonosphere() const;
  void RequestUtc() const;
  void RequestEphemeris(std::uint8_t prn) const;
  // Requests every PRN 1-32 still missing; false when none is.
  bool RequestMissingEphemerides() const;
  void RequestOscillator() const;
  void RequestSelection() const;

  // Record writers on the open DAT file.
  void WriteWeekRecord();
  void WriteType5Sub2();
  void WriteType15();
  void WriteType19(const KavoPacket& time);
  bool WriteType11();
  void WriteType16(std::uint8_t subType, std::size_t length);
  void WriteType21(const KavoPacket& ephemeris);
  // Runs `write`, one record's write onto the DAT file; a record it could not write whole is cut
  // away again and counted. Returns what `write` returned.
  template <class Write>
  bool WriteRecord(CDATRecord& record, Write&& write);
  void NoteLost(const std::string& path, std::size_t bytes, int error, bool& told);
  // A new file pair: its names for the messages, and its losses counted from zero.
  void NewFiles(const std::string& datName, const std::string& baseName);
  // Composes (and with `write` writes) a type 17 record; on success it becomes the measurement record.
  bool ComposeType17(const KavoPacket& l1, const KavoPacket* l2, bool write);

  void RelayCmr(const KavoPacket& packet);
  // Runs the handler of `datStep` once; `packet` is null only for states that act without one.
  void Step(const KavoPacket* packet);
  void SteadyState(const KavoPacket& packet);
  // The time-out rule of the waiting states: past the deadline, step back to the sending state.
  void CheckDeadline();
  void FreeKeptPackets();

  SendFn sendFn;
  TraceFn traceFn;
  LineFn lineFn;
  const IClock& clock;
  IPrompts& prompts;

  std::uint8_t needTimeTag = 0;
  std::uint8_t l1OnlyMode = 0;
  std::int32_t l1Streak = 0;
  std::int32_t datStep = 0;
  std::array<std::uint8_t, 33> ephemerisHave = {};
  double replyDeadline = 0.0;

  std::optional<KavoPacket> ionosphere;
  std::optional<KavoPacket> utc;
  std::optional<KavoPacket> pendingL1;
  std::optional<KavoPacket> position;
  std::optional<KavoPacket> velocity;
  std::optional<KavoPacket> oscillator;
  std::optional<KavoPacket> selection;
  std::unique_ptr<CDATRecord17> measurementRecord;
  std::unique_ptr<CDATRecord5> weekRecord;

  std::uint8_t active = 0;
  int datFd = -1;
  int baseFd = -1;
  std::string datPath;
  std::string basePath;
  std::uint64_t lostBytes = 0;
  bool datFailureTold = false;
  bool baseFailureTold = false;
};
