#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "link/protocol/kavo_packet.h"

// The receiver's side of the virtual memory card: plays a script of remote file requests
// (0x8F 8C 10..1B) against the program and checks its answers (0x8E 8C), printing
// "PASS <line>: <step>" or "FAIL <line>: <step>: <why>" per step.
//
// Script lines ('#' starts a comment; ERR is the expected error code, default 0):
//   cardinfo                      the three card constants
//   list PATTERN [NAME...]        exactly these names (any order), then "LAST.FIL"
//   open MODE NAME [ERR]          mode r, w, a or any other character; success keeps the handle
//   write COUNT [ERR]             COUNT bytes in 120-byte blocks at the current position, one answer
//   writeat POS COUNT [ERR]       the same with op 0x1B at POS from the start, position saved
//   read COUNT                    answers of 120-byte blocks; data checked against what was written,
//                                 and zeros past the end of the file
//   seek OFFSET ORIGIN POS        expects the new position POS
//   tell POS
//   close [ERR] [HANDLE]          the open handle, or HANDLE
//   remove NAME [ERR]
//   badsum COMMAND ...            COMMAND's request (a single one: no write of more than one block)
//                                 sent with a wrong checksum; one answer with error 5 is expected
//                                 and the card must not change
// The bytes written are a fixed pattern, so reads can be checked against a model of each file.
// Names in the model, as on the card, do not depend on case, and "A:" or a leading "\\" names the
// card's root.
// Single-threaded: the owner feeds every packet and calls Tick.
class CCardClient {
 public:
  // Sends a request; with `withChecksum` 1 the sender adds the checksum trailer, with 0 the request
  // goes as it is (its own trailer included).
  using SendFn = std::function<void(const KavoPacket& request, int withChecksum)>;
  static constexpr std::int64_t kStepTimeoutMs = 10000;

  CCardClient(SendFn send, std::FILE* out = stdout);
  // Reads the script. False with `error` set when it cannot be read or a line is not understood.
  bool Load(const std::string& path, std::string& error);

  // Begins the first step (the program is connected and serving).
  void Start(std::int64_t nowMs);
  // Takes an answer; false for any other packet.
  bool OnPacket(const KavoPacket& packet, std::int64_t nowMs);
  // Fails the running step once it has waited too long.
  void Tick(std::int64_t nowMs);
  std::int64_t NextDueMs() const;

  bool Started() const { return started; }
  bool Finished() const { return finished; }
  int Failures() const { return failures; }

 private:
  struct Step {
    int line = 0;
    std::string text;
    std::vector<std::string> words;  // the command and its arguments ("badsum" taken off)
    bool damaged = false;            // sent with a wrong checksum
  };

  // The model's key of a card name: folded to lower case, without the drive or a leading separator.
  static std::string Key(const std::string& name);

  void Begin(std::int64_t nowMs);
  void Pass();
  void Fail(const std::string& why);
  void Next(std::int64_t nowMs);
  void SendRequest(std::uint8_t op, const std::vector<std::uint8_t>& fields);
  void Check(const KavoPacket& packet);
  std::uint8_t PatternByte(std::uint32_t position) const;

  SendFn send;
  std::FILE* out;
  std::vector<Step> steps;
  std::size_t current = 0;
  bool started = false;
  bool finished = false;
  bool waiting = false;
  int failures = 0;
  std::int64_t deadlineMs = 0;

  // What the running step expects and has seen.
  std::uint8_t op = 0;
  bool damaged = false;
  int expectError = 0;
  int expectAnswers = 1;
  int answers = 0;
  std::vector<std::string> expectNames;
  std::vector<std::string> seenNames;
  std::uint32_t expectPosition = 0;
  std::uint32_t readFrom = 0;
  std::uint32_t readCount = 0;
  std::string failure;

  // The client's model of the card.
  std::int32_t handle = -1;
  std::string openName;
  std::uint32_t position = 0;
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::uint32_t written = 0;  // pattern bytes written so far (the pattern runs on across writes)
};
