#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"

// The health summary of one hour of logging, written as B.manifest beside the hour's text log B.log
// when that log closes (hour change or session end), and zipped with the hour's files.
//
// What is counted: every packet the logger takes from its queue while the hour's text log is open
// (the packets the raw packet log B.kavo holds when "Log KAVO" is on) and, for a session's first
// hour, the time packet that opened it; the frames the link's packet parser threw away; the link
// losses and restores. The time packet that moves the log to a new hour belongs to the hour it
// ends, as it does in that hour's raw packet log. The file is plain text, one "key: value" a
// line, keys in this order (repeated keys keep their order):
//
//   manifest: 1                          format version
//   hour: 6010714                        the HourCode of the log
//   utc-hour: 2026-01-07 14              the same hour as a date
//   station: A_                          the station name of the session
//   log: A_6010714.log                   the text log this manifest belongs to
//   packets: 57                          packets taken in the hour
//   bytes: 3120                          their frame bytes as received (DLE stuffing included;
//                                        B.kavo has them all but the session's opening time packet)
//   packets-0x41: 12                     packets of one identifier, in identifier order, only
//                                        identifiers seen
//   checksum-failures: 1                 packets of the identifiers the receiver always sends with a
//                                        checksum (0x89, 0x8F) whose checksum is wrong
//   parser-dropped-frames: 0             malformed frames the packet parser discarded
//   gap-time: receiver UTC               the time base of the gaps below
//   gaps: 1                              silences of more than 2 s between two packets
//   gap: 2026-01-07T14:20:05.000Z 5.000  one silence: the time of the last packet before it and
//                                        its length in seconds (at most 100 listed; "gaps" counts all)
//   link-lost: 0                         link losses while the hour was open
//   link-restored: 0                     and restores
//   lost-lines: 0                        text log lines that could not be written (a full disk)
//   lost-bytes: 0                        bytes of the hour's files that could not be written: those
//                                        lines, raw packet log frames, DAT and base file records
//   sha256: <64 hex digits>  A_6010714.log   one per file of the hour that exists (B.log, B.kavo,
//                                        B.dat, B_base.cmr), in sha256sum's format
//
// Time of a packet: the receiver's UTC time from the last time packet (0x41) plus the logger's
// clock time elapsed since that packet was taken. Live, the logger's clock is the program's steady
// clock, so the gaps are measured by the PC between the receiver's time packets; in a replay, whose
// clock follows the time packets, a packet has the time of the last time packet before it. Before
// the first time packet no gap is measured.
//
// Counts noted while no hour is open (parser drops, link events between two hours) go to the next
// hour. Used on the logger's thread only.
class CHourManifest {
 public:
  static constexpr double kGapSeconds = 2.0;
  static constexpr std::size_t kMaxListedGaps = 100;

  struct Gap {
    double startUtc = 0;  // seconds since 1970, UTC
    double length = 0;    // seconds
  };

  // Opens the counting of a new hour; whatever was counted for an earlier hour is dropped.
  void Begin(std::uint32_t hourCode, const std::string& station, int year, int month, int day, int hour);
  bool IsOpen() const { return open; }

  // Every packet the logger takes: time packets set the clock of the gaps; the rest is counted
  // only while an hour is open. `clockSeconds` is the logger's clock when the packet was taken.
  void NotePacket(const KavoPacket& packet, double clockSeconds);
  void NoteDroppedFrames(std::uint64_t count);
  void NoteLinkLost();
  void NoteLinkRestored();
  // What the hour's files could not take; noted just before Finish.
  void NoteLost(std::uint64_t lines, std::uint64_t bytes);

  // Writes the manifest of the open hour beside `logPath` (".log" replaced by ".manifest"), hashing
  // the hour's files as they are now, and closes the hour. False when there is no open hour or the
  // file cannot be written (no partial manifest is left behind). A manifest of the same hour that
  // is already there (an earlier session whose log this one appended to) has its counts added, so
  // the manifest keeps describing the whole log.
  bool Finish(const std::string& logPath);

  // The manifest text for the given files of the hour (full paths; those missing are left out).
  std::string Text(const std::string& logPath, const std::vector<std::string>& files) const;

  std::uint64_t Packets() const { return packets; }
  std::uint64_t Bytes() const { return bytes; }
  std::uint64_t PacketsWithId(std::uint8_t id) const { return byId[id]; }
  std::uint64_t ChecksumFailures() const { return checksumFailures; }
  std::uint64_t DroppedFrames() const { return droppedFrames; }
  std::uint64_t LinkLost() const { return linkLost; }
  std::uint64_t LinkRestored() const { return linkRestored; }
  std::uint64_t LostLines() const { return lostLines; }
  std::uint64_t LostBytes() const { return lostBytes; }
  // The errno of the last Finish that could not write its file; 0 when it could.
  int WriteError() const { return writeError; }
  std::uint64_t GapCount() const { return gapCount; }
  const std::vector<Gap>& Gaps() const { return gaps; }

  // B.manifest for B.log.
  static std::string PathFor(const std::string& logPath);
  // The files of the hour whose text log is `logPath`: B.log, B.kavo, B.dat, B_base.cmr.
  static std::vector<std::string> HourFiles(const std::string& logPath);
  // SHA-256 of a regular file's contents as 64 lowercase hex digits, read up to the size the file
  // has when it is opened (a file that grows meanwhile is hashed as it was); empty when it cannot
  // be read or is no regular file (a link to a device would never end).
  static std::string Sha256OfFile(const std::string& path);
  // An earlier manifest longer than this is not ours and is not read.
  static constexpr std::size_t kMaxManifestBytes = 1 << 20;

 private:
  void ResetCounts();
  // Adds the counts of an earlier manifest of this hour at `path`, when there is one.
  void AddEarlierManifest(const std::string& path);

  bool open = false;
  std::uint32_t hourCode = 0;
  std::string station;
  int year = 0, month = 0, day = 0, hour = 0;

  std::uint64_t packets = 0;
  std::uint64_t bytes = 0;
  std::array<std::uint64_t, 256> byId{};
  std::uint64_t checksumFailures = 0;
  std::uint64_t droppedFrames = 0;
  std::uint64_t linkLost = 0;
  std::uint64_t linkRestored = 0;
  std::uint64_t lostLines = 0;
  std::uint64_t lostBytes = 0;
  int writeError = 0;
  std::uint64_t gapCount = 0;
  std::vector<Gap> gaps;
  std::vector<std::string> earlierGaps;  // the "gap:" values of an earlier manifest of the hour

  // Receiver time: the UTC seconds of the last time packet and the clock when it was taken.
  bool timeKnown = false;
  double anchorUtc = 0;
  double anchorClock = 0;
  bool havePrevious = false;  // a packet of this hour has been timed
  double previousUtc = 0;

  // The time packet taken while no hour was open, which opens the next one: it belongs to that
  // hour (a replayed raw packet log then counts every packet of the file).
  bool pendingTime = false;
  std::uint16_t pendingTimeBytes = 0;
  double pendingTimeUtc = 0;

  // Noted while no hour was open; handed to the next one.
  std::uint64_t pendingDrops = 0;
  std::uint64_t pendingLost = 0;
  std::uint64_t pendingRestored = 0;
};
