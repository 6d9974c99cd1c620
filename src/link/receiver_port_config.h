#pragma once

#include <cstddef>
#include <cstdint>

#include "link/protocol/kavo_packet.h"

// The receiver's own serial port settings as it reports them after a break, kept by the link so
// that the port can be put back when the link closes. Pure data and pure functions: the waiting
// and the port traffic live in CCommLink.

inline constexpr std::size_t kPortReportMaxBytes = 150;  // a report that does not end within this is refused

// Texts of the port-switch dialogue with the receiver.
inline constexpr char kPortReportStart[] = "DUCT,";
inline constexpr char kHighSpeedRequest[] = "FAST LINK SWITCH REQUEST\r\n";
inline constexpr char kHighSpeedAnswerStart[] = "HIGH SPEED KAVO IS ";
inline constexpr char kHighSpeedAnswerEnd[] = "00\r\n";

inline constexpr std::uint16_t kPortConfigPacketLength = 10;

struct ReceiverPortReport {
  std::uint32_t valid = 0;  // 1 when the last report was read completely (all 19 fields)
  char name[20] = {};
  std::int32_t field3 = 0;
  std::int32_t inBaud = 0;
  std::int32_t outBaud = 0;
  char inProtocol[10] = {};
  char outProtocol[10] = {};
  char parity = 0;
  std::int32_t dataBits = 0;
  std::int32_t stopBits = 0;
};

// Parses the report text (what followed "DUCT," up to, not including, the ETX). `length` bytes of
// `text` are read; it need not be NUL-terminated and may hold at most kPortReportMaxBytes bytes.
// "Brisk Mote" is first joined to "BriskMote" and every ',', ';', '(' and ')' becomes a blank;
// then the text must give 19 fields by the layout
//   %s %s %d %d %d %d %d %c %c %s %f %s %f %s %s %s %c %s %c
// read with scanf's rules, except that a string token too long for its field, a number out of
// the int range, or a text longer than kPortReportMaxBytes makes the report invalid. Returns true
// and fills `report` (valid 1) only for a complete report; otherwise `report` is left untouched.
bool ParsePortReport(const char* text, std::size_t length, ReceiverPortReport& report);

// Code of a reported baud rate in the port-configuration packet, -1 for a rate without one.
int BaudCode(std::int32_t baud);

// Protocol mask of a reported protocol name: the first of NONE, VELA, KAVO, NMEA, RTCM, DCOL,
// LBAR, CMR that the name contains, 0 when none does.
std::uint8_t ProtocolMask(const char* name);

// Builds the 0xBC packet that puts the receiver's port back to the reported settings. False,
// leaving `packet` untouched, when a baud rate, the data bits, the parity or the stop bits of
// the report have no code.
bool BuildPortConfigPacket(const ReceiverPortReport& report, KavoPacket& packet);

// Collects the receiver's answer to the high-speed request one byte at a time.
class CHighSpeedAnswer {
 public:
  static constexpr std::size_t kCapacity = 256;

  // Result of Add: still collecting, or the final answer.
  static constexpr int kIncomplete = 0;
  static constexpr int kRefused = -1;

  // Adds one byte. Returns kIncomplete while the answer is not complete; the new baud rate once
  // "HIGH SPEED KAVO IS " and, after it, "00\r\n" have come and the text starts with the answer
  // naming 9600, 19200, 38400, 57600 or 115200; kRefused for a complete answer with any other
  // rate or one that cannot be read, and when kCapacity bytes came without a complete answer.
  int Add(char c);

  void Clear() { length = 0; }

 private:
  int Evaluate() const;

  char text[kCapacity + 1] = {};
  std::size_t length = 0;
};
