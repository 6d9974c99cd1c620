#include "receiver_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_packet.h"
#include "trace_format.h"

namespace {

constexpr std::size_t kPortConfigLength = 10;
constexpr float kUtcOffsetSeconds = static_cast<float>(kGpsLeapSeconds);

// Display report: 8C 01, cursor column, cursor row, cursor on, row, 17 character bytes (the
// row and a NUL), six reserved bytes; the checksum makes it 31.
constexpr std::size_t kDisplayPayload = 29;

int BaudFromCode(std::uint8_t code) {
  static constexpr int kBauds[] = {2400, 4800, 9600, 19200, 38400, 11264, 22528};
  return code >= 5 && code <= 11 ? kBauds[code - 5] : -1;
}

}  // namespace

CReceiverModel::CReceiverModel(const ReceiverOptions& opts, const IClock& clk, IReceiverHost& h)
    : options(opts),
      clock(clk),
      host(h),
      simTime(clk, opts.startUtcMs, opts.timeScale),
      parser(nullptr),
      partner(opts.port),
      startMs(clk.NowMs()),
      nextRefreshMs(startMs + 1000),
      processorUsage(clk.NowMs()) {
  if (options.fatalText.size() > kMaxFatalText) options.fatalText.resize(kMaxFatalText);
  if (options.streamRateHz > 0)
    streamPeriodMs = std::max<std::int64_t>(1, std::llround(1000.0 / options.streamRateHz));
  navSink = [this](const KavoPacket& packet, int withChecksum) { SendNav(packet, withChecksum); };
  rxText.reserve(kMaxTextLine);
  std::string error;
  if (!options.q0xPath.empty() && !q0x.Load(options.q0xPath, error)) host.Trace("Q0X ERROR " + error);
}

void CReceiverModel::FeedBytes(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    TextByte(b);
    if (parser.FeedByte(b)) {
      while (parser.TryPopPacket(popped)) ReceivePacket(popped);
    }
  }
}

// Mirrors the parser's frame states: 0 idle, 1 after the opening DLE, 2 payload, 3 DLE in payload.
// Only bytes seen idle are text; a DLE ends the text piece before it. The parser's size limits
// are not mirrored: the rest of an overlong frame is neither a packet nor text.
void CReceiverModel::TextByte(std::uint8_t b) {
  switch (frameState) {
    case 0:
      if (b == kDle) {
        FlushText();
        frameState = 1;
        return;
      }
      if (b != 0x00) {
        rxText += static_cast<char>(b);
        if (b == '\n' || rxText.size() >= kMaxTextLine) FlushText();
      }
      if (partner.FeedText(b) && !silent) {
        FlushText();
        const PortSettings before = partner.Line();
        host.SendText(CPortConfigPartner::HighSpeedAnswer());
        partner.SwitchToHighSpeed();
        TracePortChange(before);
      }
      return;
    case 1:
      frameState = (b == kDle || b == kEtx) ? 0 : 2;
      return;
    case 2:
      if (b == kDle) frameState = 3;
      return;
    default:
      frameState = b == kDle ? 2 : 0;
      return;
  }
}

void CReceiverModel::FlushText() {
  if (rxText.empty()) return;
  host.Trace("RX-TEXT " + QuoteText(rxText));
  rxText.clear();
}

void CReceiverModel::TracePortChange(const PortSettings& before) {
  if (!(partner.Line() == before)) host.Trace("PORT " + FormatPortSettings(partner.Line()));
}

void CReceiverModel::OnBreak() {
  if (!options.autoConfig || silent) {
    host.Trace("BREAK IGNORED");
    return;
  }
  const PortSettings before = partner.Line();
  if (!partner.OnBreak(clock.NowMs())) return;
  host.Trace("BREAK");
  // A break starts a new session: nothing is pushed until the display is asked for again, and
  // the navigation output waits for the program's set-up, so that the port report and the
  // high-speed answer cross the line alone.
  displayActive = false;
  SetOutputs(false);
  TracePortChange(before);
}

void CReceiverModel::Tick() {
  const std::int64_t now = clock.NowMs();
  const std::int64_t elapsed = now - startMs;
  if (!silent && options.silentAfterMs >= 0 && elapsed >= options.silentAfterMs) {
    silent = true;
    host.Trace("SILENT");
  }
  if (!fatalSent && options.fatalAfterMs >= 0 && elapsed >= options.fatalAfterMs) {
    fatalSent = true;
    if (!silent) SendFatal();
  }
  if (auto report = partner.TakeDueReport(now)) {
    if (!silent) host.SendText(*report);
  }
  if (outputsOn && !silent && now >= nextStreamMs) {
    nextStreamMs += streamPeriodMs * ((now - nextStreamMs) / streamPeriodMs + 1);
    nav.Epoch(simTime.UtcMs(), nmeaOn, navSink);
  }
  if (!silent) q0x.Tick(now, navSink, [this](const std::string& line) { host.Trace(line); });
  if (!silent) datReplies.Tick(now, simTime.UtcMs(), navSink);
  if (now >= nextRefreshMs) {
    // Catch up without a burst when the loop was held up.
    nextRefreshMs += 1000 * ((now - nextRefreshMs) / 1000 + 1);
    FlushText();
    RefreshDisplay();
  }
}

std::int64_t CReceiverModel::NextDueMs() const {
  std::int64_t due = nextRefreshMs;
  if (!silent && options.silentAfterMs >= 0) due = std::min(due, startMs + options.silentAfterMs);
  if (!fatalSent && options.fatalAfterMs >= 0) due = std::min(due, startMs + options.fatalAfterMs);
  if (partner.ReportDueMs() >= 0) due = std::min(due, partner.ReportDueMs());
  if (outputsOn && !silent) due = std::min(due, nextStreamMs);
  if (!silent && q0x.NextDueMs() >= 0) due = std::min(due, q0x.NextDueMs());
  if (!silent && datReplies.NextDueMs() >= 0) due = std::min(due, datReplies.NextDueMs());
  return due;
}

void CReceiverModel::ReceivePacket(const KavoPacket& packet) {
  host.Trace(FormatPacketLine("RX", packet.id, packet.data, packet.length));
  if (silent) return;
  const auto trace = [this](const std::string& line) { host.Trace(line); };
  if (q0x.Control(packet, clock.NowMs(), trace)) return;
  // The logger's configuration requests, before the panel and the navigation stream.
  if (configReplies.Answer(packet, navSink)) return;
  if (datReplies.Answer(packet, clock.NowMs(), simTime.UtcMs(), navSink)) return;
  switch (packet.id) {
    case kavo::kIdSuperRequest:
      if (packet.length >= 1 && packet.data[0] == kavo::kSubPanel)
        HandlePanelPacket(packet);
      else
        HandleRequest(packet);
      break;
    case kavo::kIdTimeRequest:
      SendTime();
      break;
    case kavo::kIdPortConfig:
      HandlePortConfig(packet);
      break;
    case kavo::kIdNmeaControl:
      // 07 FF 01 switches the NMEA sentences on, 07 FF 00 off.
      if (packet.length >= 3 && packet.data[0] == 0x07) nmeaOn = packet.data[2] == 0x01;
      break;
    default:
      // The status requests the logger sends (0x62, 0x3C, 0x69) are answered; its set-up
      // commands (0x35, 0x3B, 0x3F, 0x6A, 0x6E, 0x65, 0x33) are taken without an answer.
      nav.Answer(packet, simTime.UtcMs(), navSink);
      break;
  }
}

// Requests of groups other than the panel's: the port output mask switches the navigation
// output; the status requests are answered with the report they name; the rest is taken silently.
void CReceiverModel::HandleRequest(const KavoPacket& packet) {
  if (packet.length < 3) return;
  if (!packet.checksumOk) {
    host.Trace("DROPPED 8E bad checksum");
    return;
  }
  if (packet.data[0] == kavo::kSubPortOutputs) {
    // 88 port mask 00 00 00 00: this receiver talks on port 0.
    if (packet.length >= 5 && packet.data[1] == 0) SetOutputs(packet.data[2] != 0);
    return;
  }
  if (CProcessorUsage::IsRequest(packet)) {
    processorUsage.Answer(packet, clock.NowMs(), navSink);
    return;
  }
  nav.Answer(packet, simTime.UtcMs(), navSink);
}

void CReceiverModel::SetOutputs(bool on) {
  if (on == outputsOn) return;
  outputsOn = on;
  host.Trace(on ? "OUTPUTS ON" : "OUTPUTS OFF");
  // The first epoch goes out at the next tick.
  if (on) nextStreamMs = clock.NowMs();
}

void CReceiverModel::SendNav(const KavoPacket& packet, int withChecksum) {
  if (!silent) host.SendPacket(packet, withChecksum);
}

void CReceiverModel::HandlePanelPacket(const KavoPacket& packet) {
  if (packet.length < 4 || packet.data[0] != kavo::kSubPanel) return;  // other groups are not modelled
  if (!packet.checksumOk) {
    host.Trace("DROPPED 8E bad checksum");
    return;
  }
  const std::size_t length = packet.length - 2u;  // without the checksum
  switch (packet.data[1]) {
    case kavo::kPanelKey: {
      if (length < 3) break;
      const CFrontPanel::Screen before = panel.Current();
      if (panel.PressKey(packet.data[2])) {
        if (panel.Current() != before)
          host.Trace(std::string("SCREEN ") + CFrontPanel::ScreenName(panel.Current()));
        RefreshDisplay();
      }
      break;
    }
    case kavo::kPanelDisplay: {
      displayActive = true;
      const PanelView view = Render();
      SendDisplayRow(view, 0);
      SendDisplayRow(view, 1);
      break;
    }
    case kavo::kPanelFlags:
      if (length >= 3) {
        // The command sets the flags and is not answered: the program answers every panel
        // report with a command, so an answer here would never end.
        panelFlags = packet.data[2];
        if (!(panelFlags & kPanelFlagRemote)) displayActive = false;
      } else {
        SendPanelReport(kavo::kPanelFlags, false);
      }
      break;
    case kavo::kPanelTitle:
      SendPanelReport(kavo::kPanelTitle, true);
      break;
    default:
      break;
  }
}

void CReceiverModel::HandlePortConfig(const KavoPacket& packet) {
  const std::uint8_t* d = packet.data;
  const int inBaud = packet.length == kPortConfigLength ? BaudFromCode(d[1]) : -1;
  const int outBaud = packet.length == kPortConfigLength ? BaudFromCode(d[2]) : -1;
  if (inBaud < 0 || outBaud < 0 || d[3] < 2 || d[3] > 3 || d[4] > 2 || d[5] > 1) {
    host.Trace("DROPPED BC bad port configuration");
    return;
  }
  PortSettings settings;
  settings.baud = inBaud;
  settings.dataBits = d[3] == 2 ? 7 : 8;
  settings.parity = "NOE"[d[4]];
  settings.stopBits = d[5] + 1;
  char line[80];
  std::snprintf(line, sizeof line, "PORT-CONFIG %d %d %d%c%d %02X %02X", inBaud, outBaud, settings.dataBits,
                settings.parity, settings.stopBits, d[7], d[8]);
  host.Trace(line);
  const PortSettings before = partner.Line();
  partner.Configure(settings);
  TracePortChange(before);
}

PanelView CReceiverModel::Render() const {
  PanelContext context;
  context.utcSeconds = simTime.UtcMs() / 1000;
  context.uptimeSeconds = simTime.ElapsedMs() / 1000;
  return panel.Render(context);
}

void CReceiverModel::RefreshDisplay() {
  if (!displayActive || silent) return;
  const PanelView view = Render();
  const bool cursorMoved =
      view.cursorOn != sentCursorOn ||
      (view.cursorOn && (view.cursorColumn != sentCursorColumn || view.cursorRow != sentCursorRow));
  for (int row = 0; row < 2; ++row) {
    if (cursorMoved || view.rows[row] != sentRows[row]) SendDisplayRow(view, row);
  }
}

void CReceiverModel::SendDisplayRow(const PanelView& view, int row) {
  std::uint8_t d[kDisplayPayload] = {};
  d[0] = kavo::kSubPanel;
  d[1] = kavo::kPanelDisplay;
  d[2] = view.cursorOn ? view.cursorColumn : 0;
  d[3] = view.cursorOn ? view.cursorRow : 0;
  d[4] = view.cursorOn ? 1 : 0;
  d[5] = static_cast<std::uint8_t>(row);
  const std::string& text = view.rows[row];
  for (std::size_t i = 0; i < PanelView::kColumns; ++i) d[6 + i] = i < text.size() ? text[i] : ' ';
  Send(kavo::kIdSuperReport, d, sizeof d, 1);
  sentRows[row] = text;
  sentCursorOn = view.cursorOn;
  sentCursorColumn = view.cursorColumn;
  sentCursorRow = view.cursorRow;
}

void CReceiverModel::SendPanelReport(std::uint8_t sub, bool withTitle) {
  std::uint8_t d[8 + sizeof kTitle] = {};
  std::size_t length = 0;
  d[length++] = kavo::kSubPanel;
  d[length++] = sub;
  d[length++] = panelFlags;
  if (withTitle) {
    std::memcpy(d + length, kTitle, sizeof kTitle);  // with its NUL
    length += sizeof kTitle;
  } else {
    length += 4;  // laid out like the command: four reserved bytes
  }
  Send(kavo::kIdSuperReport, d, length, 1);
}

void CReceiverModel::SendTime() {
  const GpsTime gps = GpsTimeFromUtcMs(simTime.UtcMs());
  std::uint8_t d[10];
  PutBeFloat(d, static_cast<float>(gps.timeOfWeek));
  d[4] = static_cast<std::uint8_t>(gps.week >> 8);
  d[5] = static_cast<std::uint8_t>(gps.week);
  PutBeFloat(d + 6, kUtcOffsetSeconds);
  // Without checksum: readers take the time packet only at exactly ten bytes.
  Send(kavo::kIdTime, d, sizeof d, 0);
}

void CReceiverModel::SendFatal() {
  std::uint8_t d[3 + kMaxFatalText] = {};
  d[0] = kavo::kSubSystem;
  d[1] = kavo::kSystemFatalError;
  std::memcpy(d + 2, options.fatalText.data(), options.fatalText.size());
  Send(kavo::kIdSuperReport, d, 2 + options.fatalText.size() + 1, 1);
}

void CReceiverModel::Send(std::uint8_t id, const std::uint8_t* payload, std::size_t length,
                          int withChecksum) {
  KavoPacket packet;
  packet.id = id;
  packet.length = static_cast<std::uint16_t>(length);
  std::memcpy(packet.data, payload, length);
  host.SendPacket(packet, withChecksum);
}
