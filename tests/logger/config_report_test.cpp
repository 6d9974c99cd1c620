#include "logger/config_report.h"

#include <gtest/gtest.h>

#include "packet_builder.h"
#include "recording_context.h"

namespace {

using Lines = std::vector<std::string>;

struct ReportCase {
  const char* name;
  KavoPacket packet;
  Lines lines;
};

Lines Report(const KavoPacket& packet) {
  CRecordingContext context;
  CConfigurationReport report;
  report.ReadConfigurationPacket(packet, context);
  return context.lines;
}

// A configuration block; `newer` puts 3 in byte 28. `product` fills 29-60: the name overrides in
// the newer layout, the identity's product text in the older one.
CBytes ConfigBlock(bool newer, const std::string& product = "") {
  CBytes b;
  b.U8(newer ? 0x7F : 0x7B).Text("SN12345").PadTo(11).Text("PN-0042").PadTo(22);
  b.U8(4).U8(7).U8(3).U8(16).U8(107).U8(0).U8(newer ? 3 : 0);
  b.Text(product).PadTo(61);
  b.U8(11).U8(2).U16(2006);                                                // manufacture date
  b.U16(7);                                                                // product
  b.U8(1).U8(3).U8(0).U8(1).U8(2).U8(9).U8(0).U8(1).U8(2).U8(0).U8(1);     // One PPS .. Carrier phase
  b.U16(1400).U16(1500);                                                   // subscription weeks
  b.U8(1).U8(2).U8(3).U8(1).U8(5).U8(0x21).U8(2).U8(1).U8(1).U8(0).U8(1);  // Brantix .. WAAS
  b.U8(40).U8(0x0A).U8(1).U8(0).U8(1).U8(1).U8(1).U8(9);                   // contrast .. A-Reserved
  b.U8(1).U8(2).U8(9).U8(0).U8(0).U8(3).U8(0).U8(0x05);                    // port A, flow bits 0 and 2
  b.U8(25).U8(3).U8(7).U8(7).U8(2).U8(9).U8(1).U8(0);                      // port B, data bits out of table
  return newer ? b : b.PadTo(155);
}

const Lines kBlockHead = {"* Firmware version   : 4.07 3/16/2007 ", "* -- Configuration Block Parameters --",
                          "* Serial number      : SN12345", "* Part number        : PN-0042"};
const Lines kBlockBody = {
    "* Manufacture Date   : 11/2/2006",
    "* Product ID         : Product 7",
    "* One PPS            : on",
    "* PV filter          : d/s/a on",
    "* External event     : off",
    "* Beacon enabled     : on",
    "* Max position rate  : 10 Hz",
    "* Base station       : Unknown (9)",
    "* Modem control      : none",
    "* Quellin MPR        : avail",
    "* Guidance is GDX    : avail/on",
    "* Guidance product 2 : none",
    "* Carrier phase      : on",
    "* R&T subscript week : 1400",
    "* QRX subscript week : 1500",
    "* Brantix decoding   : on",
    "* DSV providers      : Orbicor only",
    "* Display language   : Deutsch",
    "* Display units      : U.S.",
    "* Board Type         : Board 5",
    "* Disabled streams   : 0x21",
    "* Virtual Ref. Stn.  : ncs avail",
    "* GPS Functionality  : avail",
    "* Firmware Enabled   : on",
    "* Tilt Sensor        : none",
    "* WAAS               : avail",
    "* Screen Contrast    : 40",
    "* Reserved Upgrade   : 0x0a",
    "* CMR Input Process. : avail",
    "* Point/Line/Area Log: none",
    "* RF Chip Type       : S2",
    "* CAN self-config    : on",
    "* CAN Functionality  : avail",
    "* A-Reserved         : 9",
    "* Port A Parameters",
    "* Protocols        : KAVO in, KAVO out",
    "* Baud rate        : 38400 in, same as input out",
    "* Parity           : none",
    "* Data bits        : eight",
    "* Stop bits        : one",
    "* Flow control     : XAny",
    "* Port B Parameters",
    "* Protocols        : CMR in, NMEA out",
    "* Baud rate        : 9600 in, 9600 out",
    "* Parity           : even",
    "* Data bits        : Unknown (9)",
    "* Stop bits        : two",
    "* Flow control     : None",
    "* -- End Config Block Parameters --",
};

Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(ConfigReportTest, ConfigurationBlock_BothLayouts) {
  const Lines older = Concat({kBlockHead, kBlockBody});
  EXPECT_EQ(Report(MakeSuper(ConfigBlock(false))), older);
  // The older layout's product text (the firmware identity's) spans 29-60 and prints no line.
  EXPECT_EQ(Report(MakeSuper(ConfigBlock(false, "Brisk Mote 4415A01234 long name"))), older);
  EXPECT_EQ(
      Report(MakeSuper(ConfigBlock(true, "Field Pro"))),
      Concat({kBlockHead, {"* Prod. name override: Field Pro", "* Brief name override: none"}, kBlockBody}));
  // The older layout is only read at its exact length.
  EXPECT_TRUE(Report(MakeSuper(ConfigBlock(false).U8(0))).empty());
  KavoPacket badSum = MakeSuper(ConfigBlock(true));
  badSum.data[5] ^= 0x40;
  EXPECT_TRUE(Report(badSum).empty());
  // A newer block cut short is not read past its end.
  CBytes shortBlock = ConfigBlock(true);
  shortBlock.bytes.resize(100);
  EXPECT_TRUE(Report(MakeSuper(shortBlock)).empty());
}

TEST(ConfigReportTest, ReplyBlocks) {
  const ReportCase cases[] = {
      {"machine id", MakePacket(0x4B, {0x5A, 0, 0}), {"* Machine ID         : 90"}},
      {"machine id wrong length", MakePacket(0x4B, {0x5A}), {}},
      {"io options",
       MakePacket(0x55, {0x1A, 0x02, 0x19, 0x0B}),
       {"* KAVO I/O options   : 0x1A 0x02 0x19 0x0B", "*                    LLA position output",
        "*                    HAE altitude output", "*                    MSL altitude input",
        "*                    double precision", "*                    ENU velocity output",
        "*                    time tags in UTC", "*                    fixes computed at integer seconds",
        "*                    simultaneous msmts required", "*                    minimum msmt propagation",
        "*                    raw measurement output",
        "*                    codephase filtered before output",
        "*                    additional fix status"}},
      {"fix dcorr", MakePacket(0x6A, {0x01, 0x01}), {"* Fix Dcorr AutoRpt. : on (1)"}},
      {"fix dcorr unknown", MakePacket(0x6A, {0x01, 0x07}), {"* Fix Dcorr AutoRpt. : Unknown (7) (7)"}},
      {"sync",
       MakePacket(0x6E, {0x01, 0x03, 0x05}),
       {"* Sync Msmts. Output : enabled - raw pseudorange, interval 5 s. (3)"}},
      {"sync unknown",
       MakePacket(0x6E, {0x01, 0x02, 0x01}),
       {"* Sync Msmts. Output : unknown (2), interval 1 s. (2)"}},
      {"pv filter off", MakePacket(0x70, {0, 0, 0, 0}), {"* PV filter          : disabled"}},
      {"pv filter",
       MakePacket(0x70, {1, 0, 1, 2}),
       {"* PV dynamic filter  : on (1)", "* PV static filter   : off (0)", "* Altitude filter    : on (1)",
        "* PV filter level    : max (2)"}},
      {"pv settings",
       MakePacket(0x72, CBytes()
                            .F32(0.25f)
                            .U8(3)
                            .U8(4)
                            .U8(5)
                            .F32(1.5f)
                            .F32(20.0f)
                            .F32(0.125f)
                            .F32(30.0f)
                            .U8(6)
                            .U8(7)
                            .bytes),
       {"* PV filter settings : ", "*                  AL: 0.25000\tDT: 3\t  PE: 4\t\tCL: 5",
        "*                  DV: 1.500\tDC: 20\t  GV: 0.125\tGC: 30", "*                  BG: 6\tSC: 7"}},
      {"nmea interval and mask",
       MakePacket(0x7B, CBytes().U8(0x80).U8(5).U32(0x45).bytes),
       {"* NMEA out interval (Port B): 5", "* NMEA message mask (Port B): 0x00000045",
        "* NMEA message list (Port B): \"GGA,VTG,RMC\""}},
      {"nmea options",
       MakePacket(0x7B, {0x04, 0x01, 0x19, 0x02, 2, 0x11}),
       {"* NMEA GLL options  (Port A): 0x19", "*                    NMEA version 2.01",
        "*                    old positions not output",
        "*                    auto-mode non-DGPS positions not output",
        "*                    invalid position: 'V' in the status field",
        "*                    two decimal places of time", "* NMEA VTG options   (Port A): 0x02",
        "*                    NMEA version 1.5", "*                    speed 2D SOG (speed over ground)",
        "* VTG speed precision(Port A): 2 decimal places", "* NMEA RMC options   (Port A): 0x11",
        "*                    position with 5 decimal places",
        "*                    speed with 0 decimal places",
        "*                    two decimal places of time"}},
      {"nmea output opts",
       MakePacket(0x7B, {0x07, 0x01, 0x01}),
       {"* NMEA Output Opts   (Port B): 0x01", "*                    KAVO-wrapped NMEA: Enabled"}},
      {"output interval",
       MakePacket(0x7D, {0x01, 0x00, 0x01, 0x02, 1, 0}),
       {"* NMEA output interval (Port A): 1 second (2) ", "* KAVO fix interval  : 1 with offset 0"}},
      {"fast rate",
       MakePacket(0x7D, {0x02, 0x02, 0x01}),
       {"* KAVO Fast Rate I/O : 0x02 0x01", "*                    Port A Silent KAVO Mode disabled",
        "*                    Port B Silent KAVO Mode enabled",
        "*                    Echo Port A input in 0x1A enabled"}},
      {"base station", MakePacket(0x87, {1}), {"* Base station mode  : on (1)"}},
      {"qa/qc",
       MakePacket(0x8B, {0, 1}),
       {"* QA/QC VCV Output   : off (0)", "* QA/QC Sigma Output : on (1)"}},
      {"pps",
       MakePacket(0xB0, CBytes().U8(0).U8(7).U8(1).U8(0).F64(1.0).F64(0.5).F32(1e-6f).U16(0).bytes),
       {"* PPS #0 config      : unknown driver switch (7)", "*                    UTC timebase (1)",
        "*                    positive polarity (0)", "*                    period 1, offset 0.5",
        "*                    max uncertainty 1e-06"}},
      {"navigation",
       MakePacket(0xBB, CBytes()
                            .U8(0)
                            .U8(4)
                            .U8(9)
                            .F32(0.17453292f)
                            .F32(39.0f)
                            .F32(12.0f)
                            .F32(8.0f)
                            .U8(2)
                            .U8(30)
                            .U8(1)
                            .U8(5)
                            .U8(1)
                            .bytes),
       {"* Operating mode     : full position (3D) (4)", "* Dynamics           : unknown dynamics code (9)",
        "* Elevation mask     : 10.0 deg", "* SNR mask           : 39.0 AMU", "* PDOP mask          : 12.0",
        "* PDOP switch        : 8.0", "* DGPS mode          : DGPS auto (2)", "* DGPS age limit     : 30 s",
        "* Solution mode      : high accuracy tracking (1)",
        "* Measurement rate   : unknown measurement rate (5)", "* Position fix rate  : 5 Hz (1)"}},
      {"spot stations",
       MakeSuper(CBytes().U8(0x81).U8(2).U16(101).U8(3).U16(107).U8(1).U8(1).U16(412).U8(2)),
       {"* Racal Stn Sel Pref : Prefer closest station (1) ", "* Racal Manual Stn Id: 412 ",
        "* Racal Decoder Type : SW (2)"}},
      {"too many stations", MakeSuper(CBytes().U8(0x81).U8(21)), {"* Too many spot stations\r"}},
      {"dgps source",
       MakeSuper(CBytes()
                     .U8(0x89)
                     .U8(5)
                     .U8(1)
                     .U8(0)
                     .U8(1)
                     .U8(2)
                     .U16(300)
                     .U16(310)
                     .F32(1545.5f)
                     .F32(1200.0f)
                     .U8(30)
                     .U8(60)
                     .U8(90)),
       {"* DGPS source        : WAAS (5)", "* WAAS backup        : on (1)", "* WAAS T2 Remap      : off (0)",
        "* L-Band NCS         : on (1)", "* Beacon channel mode: 500 bps (2)",
        "* Beacon frequencies : Ch0 300 kHz, Ch1 310 kHz", "* Satellite frequency: 1545.500 MHz",
        "* Satellite bit rate : 1200.0 baud",
        "* RTCM timeouts-auto : beacon 30 s, satellite 60 s, waas 90 s"}},
      {"dgps source unknown",
       MakeSuper(CBytes().U8(0x89).U8(40).PadTo(21)),
       {"* DGPS source        : Unknown (40)", "* WAAS backup        : off (0)",
        "* WAAS T2 Remap      : off (0)", "* L-Band NCS         : off (0)",
        "* Beacon channel mode: 250 bps (0)", "* Beacon frequencies : Ch0 0 kHz, Ch1 0 kHz",
        "* Satellite frequency:   0.000 MHz", "* Satellite bit rate :   0.0 baud",
        "* RTCM timeouts-auto : beacon 0 s, satellite 0 s, waas 0 s"}},
      {"orbicor stop date",
       MakeSuperOfLength(CBytes().U8(0x8B).U8(4).PadTo(32).U8(12).U8(31).U8(127), 42),
       {"* Orbicor stop date : 12/31/2027"}},
      {"hp stop date",
       MakeSuper(CBytes().U8(0xA3).U8(0).U32(1167264000u)),
       {"* Orbicor HP Stop Date: 01/01/2017"}},
      {"hp version", MakeSuper(CBytes().U8(0xA3).U8(1).Text("2.13").U8(0)), {"* Orbicor HP Version: 2.13"}},
      {"bias filter",
       MakeSuper(CBytes().U8(0xA4).U8(5).U8(0).U8(2).F32(30.0f).F32(4.0f).F32(10.0f).U8(3).F32(0.0f)),
       {"* Bias filter parameter settings: ", "*                  Filter State: RESET",
        "*                  bias time constant (sec):  30.0", "*                  filter depth:   4.0",
        "*                  maximum gap:  10.0", "* Filter mode: MAX", "* Bias filter: enabled",
        "* Bias decay time: none"}},
      {"filter parameters",
       MakeSuper(CBytes().U8(0xA4).U8(5).U8(1).U8(3).F32(2.5f).PadTo(16).U8(0).F32(90.0f)),
       {"* Filter parameter settings: ", "*     accel setting: 3", "*     bias time constant (min):   2.5",
        "* Filter mode: OFF", "* KF filter      : disabled", "* Bias filter    : disabled",
        "* Bias decay time: 90.0 s"}},
      {"lightbar",
       MakeSuper(CBytes().U8(0x92).U8(1).U8(7).U8(4).U8(1).U8(0).F32(0.5f).F32(2.0f).F32(15.25f)),
       {"* GDX Lightbar Config  ", "* Mounting         : roof (1)", "* Intensity        : 7",
        "* Text             : unknown (4)", "* Alarm mode       : beep (1)", "* LED spacing mode : fixed (0)",
        "* LED interval     :  0.50 m", "* LED end interval :  2.00 m", "* Approach LED warn: 15.25 m"}},
      {"guidance",
       MakeSuperOfLength(CBytes()
                             .U8(0x91)
                             .U8(0)
                             .U8(1)
                             .U8(1)
                             .U8(2)
                             .U8(1)
                             .U8(10)
                             .U8(1)
                             .F32(12.5f)
                             .F32(-0.75f)
                             .U32(200)
                             .U8(1)
                             .F32(92.5f)
                             .U8(1),
                         37),
       {"* GDX Guidance Config  ", "* Units            : metric (0) ", "* Display mode     : reverse (1) ",
        "* Boundary mode    : on (1) ", "* Pattern mode     : pivot (2) ", "* Skip N swaths    : 1",
        "* Look ahead       : 10 m", "* Swath generation : auto (1)", "* Swath width      : 12.50 m",
        "* Antenna offset   : -0.75 m", "* Output rate      : 200 msecs", "* Curve Log Filter : on",
        "* A-B Line Heading : 92.5 degrees", "* DGPS for Guidance: non_DGPS Allowed"}},
      {"button set", MakeSuper(CBytes().U8(0x95).U8(1)), {"* GDX Button Set     : custom (1)"}},
      {"button defs",
       MakeSuper(CBytes().U8(0x98).U8(2).U8(1).U8(3).U8(5).U8(20)),
       {"* GDX Button Defs      ", "* Button       1   : mark A (1)", "* Button       2   : next swath (3)",
        "* Button Shift-1   : pause (5)", "* Button Shift-2   : unknown (20)"}},
      {"hardware",
       MakeSuper(CBytes().U8(0x9C).U8(14).U8(12).U8(1).U8(0).U8(1)),
       {"* Hardware Type      : Unknown (14)", "* Max channels       : 12", "* LCD available      : on",
        "* CAN bus available  : off", "* DSP type           : 2185"}},
      {"remote display",
       MakeSuper(CBytes().U8(0x8C).U8(3).U8(0x02).Fill(4)),
       {"* Remote Display     : On (0x02)"}},
      {"autoselect",
       MakeSuper(CBytes().U8(0x9E).U8(3).U8(6).U8(5).U8(99)),
       {"* AutoSelect Priority: 3 sources", "* 1.) Orbicor HP (6)", "* 2.) WAAS (5)", "* 3.) Unknown (99)"}},
      {"sw config",
       MakeSuper(CBytes().U8(0x64).U8(0).U8(3).U8(4)),
       {"* SW BD Config       : 3", "* SW IF Config       : 4"}},
      {"can",
       MakeSuper(CBytes().U8(0x9F).U8(0).U8(2).U8(0).U8(28).U8(1).U8(2).U8(9).U8(29).U8(1).U8(3)),
       {"* CAN Configuration  : 2 chans", "* Ch:0 Baud: 250K Addr:28 ECU:1 Fnct:2",
        "* Ch:1 Baud: unknown Addr:29 ECU:1 Fnct:3"}},
      {"can channel count past the packet", MakeSuper(CBytes().U8(0x9F).U8(0).U8(2).U8(0).U8(28)), {}},
      {"unknown reply", MakePacket(0x99, {1, 2, 3}), {}},
  };
  for (const ReportCase& c : cases) EXPECT_EQ(Report(c.packet), c.lines) << c.name;
}

TEST(ConfigReportTest, GpsSecondsDates) {
  char text[24];
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "01/06/1980"},                                         // the GPS epoch
      {4665600, "02/29/1980"},                                   // a leap day
      {31190400, "01/01/1981"},                                  // past the first leap year
      {1167264000u, "01/01/2017"}, {0xFFFFFFFFu, "02/11/2116"},  // every fourth year a leap year, 2100 too
  };
  for (const auto& [seconds, expected] : cases) {
    FormatGpsSecondsDate(seconds, text, sizeof text);
    EXPECT_STREQ(text, expected) << seconds;
  }
}

TEST(ConfigReportTest, RequestsInOrder_CompleteOnPvFilterReply) {
  CRecordingContext context;
  CConfigurationReport report;
  report.RequestConfiguration(context);
  ASSERT_EQ(context.sent.size(), 47u);
  using Sent = std::pair<std::vector<std::uint8_t>, int>;
  EXPECT_EQ(context.sent[0], (Sent{{0x26}, 0}));
  EXPECT_EQ(context.sent[1], (Sent{{0x8E, 0x7F}, 1}));
  EXPECT_EQ(context.sent[4], (Sent{{0x8E, 0x64, 0x00}, 0}));
  EXPECT_EQ(context.sent[5], (Sent{{0x8E, 0x9F, 0x00}, 1}));
  EXPECT_EQ(context.sent[15], (Sent{{0x8E, 0x8B, 0x04, 0x00, 0x00}, 1}));
  EXPECT_EQ(context.sent[28], (Sent{{0x7A, 0x06, 0x04}, 0}));
  EXPECT_EQ(context.sent[38], (Sent{{0x67, 0x00}, 0}));
  EXPECT_EQ(context.sent[39], (Sent{{0xB0, 0x00, 0x01}, 1}));
  EXPECT_EQ(context.sent[44], (Sent{{0x8E, 0xA4, 0x05}, 1}));
  EXPECT_EQ(context.sent[45], (Sent{{0x71}, 0}));
  EXPECT_EQ(context.sent[46], (Sent{{0x70}, 0}));

  EXPECT_FALSE(report.TakePacket(MakePacket(0x4B, {1, 0, 0}), context));
  EXPECT_EQ(report.MachineId(), 1);
  EXPECT_TRUE(report.TakePacket(MakePacket(0x70, {0, 0, 0, 0}), context));
  report.RequestConfiguration(context);
  EXPECT_FALSE(report.IsConfigurationComplete());
}

TEST(ConfigReportTest, ReceivedTextsAreCutAndMadePrintable) {
  CRecordingContext context;
  CConfigurationReport report;
  report.ReadConfigurationPacket(MakeSuper(CBytes().U8(0xA3).U8(1).Text("v\x01").Fill(200, 'v')), context);
  ASSERT_EQ(context.lines.size(), 1u);
  EXPECT_EQ(context.lines[0], "* Orbicor HP Version: v?" + std::string(61, 'v'));
}

}  // namespace
