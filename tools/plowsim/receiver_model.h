#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "config_replies.h"
#include "dat_replies.h"
#include "front_panel.h"
#include "link/protocol/clock.h"
#include "link/protocol/kavo_parser.h"
#include "nav_stream.h"
#include "port_config_partner.h"
#include "processor_usage.h"
#include "q0x_stream.h"
#include "receiver_host.h"
#include "sim_time.h"

// How the simulated receiver starts and which faults it shows.
struct ReceiverOptions {
  PortSettings port;                // the receiver's configured port
  bool autoConfig = true;           // false: breaks are ignored
  std::int64_t startUtcMs = 0;      // simulated UTC at start
  double timeScale = 1.0;           // simulated seconds per real second
  std::int64_t silentAfterMs = -1;  // stop answering this long after start; -1 never
  std::int64_t fatalAfterMs = -1;   // send the fatal error report this long after start; -1 never
  std::string fatalText;            // its text (cut to kMaxFatalText bytes)
  double streamRateHz = 1.0;        // navigation output epochs per real second, while switched on
  std::string q0xPath;              // raw measurement file streamed on request; empty for none
};

// The simulated receiver without its transport: bytes it heard in, packets and texts out through
// IReceiverHost, time from an IClock. It answers the display, title and panel flags requests,
// takes keys, pushes a display report whenever a row changes (once the program asked for the
// display, until it clears the panel flag), answers the time request and plays its part in the
// port auto-configuration. Its navigation output (CNavStream) runs while the program has switched
// the port's outputs on (0x8E 88 with a non-zero mask for port 0, as the logger's set-up does)
// and stops when they are switched off or a break takes the port over; the logger's requests for
// status reports are answered from the same stream. Processor usage requests are answered by
// CProcessorUsage. Single-threaded: every call comes from the one loop that owns it.
//
// Trace lines it writes (the transport adds its own): RX, RX-TEXT, BREAK, BREAK IGNORED, PORT,
// PORT-CONFIG, SCREEN, DROPPED, SILENT, OUTPUTS, Q0X.
class CReceiverModel {
 public:
  static constexpr std::size_t kMaxFatalText = 200;
  static constexpr std::size_t kMaxTextLine = 120;  // received text is traced in pieces of this
  static constexpr std::uint8_t kPanelFlagRemote = 0x02;
  static constexpr char kTitle[] = "Brisk Mote 4415A01234";

  // `clock` and `host` must outlive the model.
  CReceiverModel(const ReceiverOptions& options, const IClock& clock, IReceiverHost& host);

  // Bytes the receiver heard on a serial line, in order: frames are parsed and handled at once,
  // bytes between frames are text (the high-speed switch request).
  void FeedBytes(const std::uint8_t* bytes, std::size_t count);
  // One packet as a packet transport delivers it (traced as RX, then answered).
  void ReceivePacket(const KavoPacket& packet);
  // The program sent a break.
  void OnBreak();
  // Does what is due now: the port report after a break, the fault timers, the 1 s refresh of
  // the display. Call it at NextDueMs() at the latest.
  void Tick();
  std::int64_t NextDueMs() const;

  // The settings the receiver's port runs at now.
  const PortSettings& Port() const { return partner.Line(); }
  bool Silent() const { return silent; }
  bool RemoteDisplayActive() const { return displayActive; }
  std::uint8_t PanelFlags() const { return panelFlags; }
  const CFrontPanel& Panel() const { return panel; }
  bool OutputsOn() const { return outputsOn; }
  bool NmeaOn() const { return nmeaOn; }

 private:
  void HandlePanelPacket(const KavoPacket& packet);
  void HandlePortConfig(const KavoPacket& packet);
  void HandleRequest(const KavoPacket& packet);
  void SetOutputs(bool on);
  void SendNav(const KavoPacket& packet, int withChecksum);
  void TextByte(std::uint8_t b);
  void FlushText();
  void TracePortChange(const PortSettings& before);

  PanelView Render() const;
  void RefreshDisplay();
  void SendDisplayRow(const PanelView& view, int row);
  void SendPanelReport(std::uint8_t sub, bool withTitle);
  void SendTime();
  void SendFatal();
  void Send(std::uint8_t id, const std::uint8_t* payload, std::size_t length, int withChecksum);

  ReceiverOptions options;
  const IClock& clock;
  IReceiverHost& host;
  CSimTime simTime;
  CKavoParser parser;
  KavoPacket popped;  // reused for every packet taken from the parser
  CFrontPanel panel;
  CPortConfigPartner partner;

  // Tracks frame boundaries the way the parser does, so that bytes between frames can be read as text.
  int frameState = 0;
  std::string rxText;

  bool displayActive = false;
  std::uint8_t panelFlags = 0;
  std::array<std::string, 2> sentRows;
  bool sentCursorOn = false;
  std::uint8_t sentCursorColumn = 0, sentCursorRow = 0;

  std::int64_t startMs;
  std::int64_t nextRefreshMs;
  bool silent = false;
  bool fatalSent = false;

  CNavStream nav;
  CNavStream::Sink navSink;
  bool outputsOn = false;
  bool nmeaOn = false;
  std::int64_t streamPeriodMs = 1000;
  std::int64_t nextStreamMs = 0;

  CConfigReplies configReplies;
  CDatReplies datReplies;
  CQ0xStream q0x;
  CProcessorUsage processorUsage;
};
