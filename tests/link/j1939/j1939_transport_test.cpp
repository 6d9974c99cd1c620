// The transport protocol driven by raw frames from a peer at address 28 to the stack at 249.
#include "link/j1939/j1939_transport.h"

#include <gtest/gtest.h>

#include "j1939_test_support.h"

namespace {

constexpr std::uint8_t kPeer = 28;
constexpr std::uint32_t kToPeer = 0x18EC1CF9;  // TP.CM from 249 to 28

CanFrame Cm(const Bytes& data, std::uint8_t destination = 249) {
  return J1939Frame(kPgnTransportControl, destination, kPeer, data);
}
CanFrame Dt(std::uint8_t seq, std::uint8_t fill, std::uint8_t destination = 249) {
  return J1939Frame(kPgnTransportData, destination, kPeer, {seq, fill, fill, fill, fill, fill, fill, fill});
}
Bytes Rts(std::uint16_t size, std::uint8_t packets, std::uint8_t maxPerCts = 0xFF,
          std::uint32_t pgn = 0xEF00) {
  return {0x10,
          static_cast<std::uint8_t>(size),
          static_cast<std::uint8_t>(size >> 8),
          packets,
          maxPerCts,
          static_cast<std::uint8_t>(pgn),
          static_cast<std::uint8_t>(pgn >> 8),
          static_cast<std::uint8_t>(pgn >> 16)};
}
Bytes Cts(std::uint8_t count, std::uint8_t next, std::uint32_t pgn = 0xEF00) {
  return {0x11,
          count,
          next,
          0xFF,
          0xFF,
          static_cast<std::uint8_t>(pgn),
          static_cast<std::uint8_t>(pgn >> 8),
          static_cast<std::uint8_t>(pgn >> 16)};
}
Bytes Abort(J1939AbortReason reason, std::uint32_t pgn = 0xEF00) {
  return {0xFF,
          static_cast<std::uint8_t>(reason),
          0xFF,
          0xFF,
          0xFF,
          static_cast<std::uint8_t>(pgn),
          static_cast<std::uint8_t>(pgn >> 8),
          static_cast<std::uint8_t>(pgn >> 16)};
}
const Bytes kEoma20{0x13, 20, 0, 3, 0xFF, 0x00, 0xEF, 0x00};

struct Transport : ::testing::Test {
  void SetUp() override {
    raw.Claim();
    raw.clock.Set(1000);
  }
  std::vector<Bytes> SentToPeer() const {
    std::vector<Bytes> out;
    for (const auto& f : raw.sent)
      if (f.id == kToPeer) out.push_back(DataOf(f));
    return out;
  }
  // A 20-byte message from the peer, announced and cleared: the next packet expected is 1.
  void OpenIncoming() {
    raw.stack.Receive(Cm(Rts(20, 3)));
    ASSERT_EQ(SentToPeer(), (std::vector<Bytes>{Cts(3, 1)}));
    raw.sent.clear();
  }
  // A 20-byte message of ours to the peer, announced.
  void OpenOutgoing() {
    const Bytes body(20, 0x02);
    ASSERT_EQ(raw.stack.Send(kPgnProprietaryA, kPeer, body.data(), body.size()), J1939SendResult::Started);
    ASSERT_EQ(SentToPeer(), (std::vector<Bytes>{Rts(20, 3)}));
    raw.sent.clear();
  }
  RawStack raw;
};

TEST_F(Transport, IncomingWithOriginatorWindowLimit_CtsAsksForThatManyAndEomaCloses) {
  raw.stack.Receive(Cm(Rts(40, 6, 4)));
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{Cts(4, 1)}));
  for (std::uint8_t seq = 1; seq <= 6; ++seq) raw.stack.Receive(Dt(seq, seq));
  EXPECT_EQ(SentToPeer(),
            (std::vector<Bytes>{Cts(4, 1), Cts(2, 5), {0x13, 40, 0, 6, 0xFF, 0x00, 0xEF, 0x00}}));
  const auto got = Only(raw.events, J1939EventCode::ProprietaryCommand);
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].body.size(), 40u);
  EXPECT_EQ(got[0].body[0], 1);
  EXPECT_EQ(got[0].body[35], 6);
  EXPECT_EQ(got[0].body[39], 6);
}

struct WrongSequence {
  const char* name;
  std::vector<std::uint8_t> sequence;  // packets sent after the CTS
  J1939AbortReason reason;
};

class TransportWrongSequence : public Transport, public ::testing::WithParamInterface<WrongSequence> {};

TEST_P(TransportWrongSequence, AbortsWithReasonAndForgetsTheSession) {
  OpenIncoming();
  for (auto seq : GetParam().sequence) raw.stack.Receive(Dt(seq, 0x55));
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{Abort(GetParam().reason)}));
  raw.sent.clear();
  const auto unexpected = raw.stack.TransportCounters().unexpected;
  raw.stack.Receive(Dt(2, 0x55));
  EXPECT_TRUE(raw.sent.empty());
  EXPECT_EQ(raw.stack.TransportCounters().unexpected, unexpected + 1);
  EXPECT_TRUE(Only(raw.events, J1939EventCode::ProprietaryCommand).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransportWrongSequence,
    ::testing::Values(WrongSequence{"Skipped", {1, 3}, J1939AbortReason::BadSequenceNumber},
                      WrongSequence{"StartsAtTwo", {2}, J1939AbortReason::BadSequenceNumber},
                      WrongSequence{"Zero", {0}, J1939AbortReason::BadSequenceNumber},
                      WrongSequence{"Repeated", {1, 1}, J1939AbortReason::DuplicateSequenceNumber},
                      WrongSequence{"Backwards", {1, 2, 1}, J1939AbortReason::DuplicateSequenceNumber}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Transport, DuplicateRtsForSameGroup_RestartsTheSession) {
  OpenIncoming();
  raw.stack.Receive(Dt(1, 0x11));
  raw.stack.Receive(Cm(Rts(20, 3)));
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{Cts(3, 1)}));
  for (std::uint8_t seq = 1; seq <= 3; ++seq)
    raw.stack.Receive(Dt(seq, static_cast<std::uint8_t>(0x20 + seq)));
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{Cts(3, 1), kEoma20}));
  const auto got = Only(raw.events, J1939EventCode::ProprietaryCommand);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].body, (Bytes{0x21, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21, 0x22, 0x22, 0x22,
                                0x22, 0x22, 0x22, 0x22, 0x23, 0x23, 0x23, 0x23, 0x23, 0x23}));
}

TEST_F(Transport, RtsForOtherGroupWhileOpen_RefusedAsBusyAndFirstCompletes) {
  OpenIncoming();
  raw.stack.Receive(Cm(Rts(20, 3, 0xFF, 0xFEDA)));
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{Abort(J1939AbortReason::AlreadyInSession, 0xFEDA)}));
  raw.sent.clear();
  for (std::uint8_t seq = 1; seq <= 3; ++seq) raw.stack.Receive(Dt(seq, 0x09));
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{kEoma20}));
  EXPECT_EQ(Only(raw.events, J1939EventCode::ProprietaryCommand).size(), 1u);
}

TEST_F(Transport, UnacceptableRts_AbortedWithoutSession) {
  raw.stack.Receive(Cm(Rts(1786, 0xFF)));                  // above the limit (and its packet count wraps)
  raw.stack.Receive(Cm(Rts(20, 4)));                       // packet count does not match the size
  raw.stack.Receive(Cm(Rts(20, 3, 0xFF, 0xFECA)));         // a group not carried by transport here
  raw.stack.Receive(Cm(Rts(20, 3), kJ1939GlobalAddress));  // RTS to everyone: not for us to answer
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{Abort(J1939AbortReason::Other), Abort(J1939AbortReason::Other),
                                              Abort(J1939AbortReason::Other, 0xFECA)}));
  EXPECT_EQ(raw.sent.size(), 3u);
  raw.stack.Receive(Dt(1, 0));
  EXPECT_EQ(raw.sent.size(), 3u);
}

TEST_F(Transport, ControlFramesForUnknownSession_Ignored) {
  raw.stack.Receive(Cm(Cts(3, 1)));
  raw.stack.Receive(Cm(kEoma20));
  raw.stack.Receive(Cm(Abort(J1939AbortReason::Timeout)));
  raw.stack.Receive(Dt(1, 0));
  EXPECT_TRUE(raw.sent.empty());
  EXPECT_TRUE(raw.events.empty());
  EXPECT_EQ(raw.stack.TransportCounters().unexpected, 4u);

  // A CTS naming another group than the running session's is not for it either.
  OpenOutgoing();
  raw.stack.Receive(Cm(Cts(3, 1, 0xFEDA)));
  EXPECT_TRUE(raw.sent.empty());
}

TEST_F(Transport, EmptyAndOverlongFrames_CountedAndDroppedWithoutAnswer) {
  OpenIncoming();
  for (std::uint32_t pgn : {kPgnTransportControl, kPgnTransportData, kPgnRequest, kPgnAddressClaim,
                            kPgnAcknowledgement, kPgnProprietaryA, kPgnSoftwareIdentification}) {
    raw.stack.Receive(J1939Frame(pgn, 249, kPeer, {}));
  }
  CanFrame overlong = Dt(1, 0);
  overlong.length = 200;
  raw.stack.Receive(overlong);
  EXPECT_TRUE(raw.sent.empty());
  EXPECT_TRUE(raw.events.empty());
  EXPECT_EQ(raw.stack.Counters().malformed + raw.stack.TransportCounters().malformed, 8u);
  // The open session did not notice.
  for (std::uint8_t seq = 1; seq <= 3; ++seq) raw.stack.Receive(Dt(seq, 0));
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{kEoma20}));
}

TEST_F(Transport, ReceivedAbort_CancelsIncomingSessionSilently) {
  OpenIncoming();
  raw.stack.Receive(Dt(1, 0));
  raw.stack.Receive(Cm(Abort(J1939AbortReason::ResourcesNeeded)));
  raw.stack.Receive(Dt(2, 0));
  raw.stack.Receive(Dt(3, 0));
  raw.At(5000);
  EXPECT_TRUE(raw.sent.empty());
  EXPECT_TRUE(raw.events.empty());
  EXPECT_EQ(raw.stack.TransportCounters().abortsReceived, 1u);
}

TEST_F(Transport, ReceivedAbort_CancelsOutgoingSessionAndReportsReason) {
  OpenOutgoing();
  raw.stack.Receive(Cm(Abort(J1939AbortReason::ResourcesNeeded)));
  raw.stack.Receive(Cm(Cts(3, 1)));
  raw.At(5000);
  EXPECT_TRUE(raw.sent.empty());
  const auto failed = Only(raw.events, J1939EventCode::TransmitFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].parameter, 2u);
  EXPECT_EQ(failed[0].address, kPeer);
}

TEST_F(Transport, ReceivedAbort_ReportedAsTheReceiversAndTheWaitingShortMessageGoesNext) {
  OpenOutgoing();
  const Bytes next{0x08, 1, 0, 0x8E, 0x93, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(raw.stack.Send(kPgnProprietaryA, kPeer, next.data(), next.size()), J1939SendResult::Started);
  EXPECT_TRUE(raw.sent.empty()) << "waits for the transfer";
  raw.stack.Receive(Cm(Abort(J1939AbortReason::AlreadyInSession)));
  const auto failed = Only(raw.events, J1939EventCode::TransmitFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].parameter, 1u);
  EXPECT_TRUE(failed[0].byPeer);
  ASSERT_EQ(raw.sent.size(), 1u);
  EXPECT_EQ(raw.sent[0].id, 0x18EF1CF9u);
  EXPECT_EQ(DataOf(raw.sent[0]), next);
}

TEST_F(Transport, WaitingShortMessageTheDriverRefuses_RetriedAtTicksUntilT3) {
  OpenOutgoing();
  const Bytes next{0x08, 1, 0, 0x8E, 0x93, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(raw.stack.Send(kPgnProprietaryA, kPeer, next.data(), next.size()), J1939SendResult::Started);
  raw.stack.Receive(Cm(Cts(3, 1)));
  raw.refuse = [](const CanFrame& f) { return ParseJ1939Id(f.id).pgn == kPgnProprietaryA; };
  raw.stack.Receive(Cm(kEoma20));  // our transfer is done; the short one is refused
  raw.At(1000 + 1250);
  EXPECT_TRUE(Only(raw.events, J1939EventCode::TransmitFailed).empty());
  raw.refuse = nullptr;
  raw.At(1000 + 1260);
  ASSERT_FALSE(raw.sent.empty());
  EXPECT_EQ(DataOf(raw.sent.back()), next);
  EXPECT_EQ(Only(raw.events, J1939EventCode::TransmitDone).size(), 2u);

  // Refused past T3: given up as our own time-out, with nothing to tell the peer.
  OpenOutgoing();
  ASSERT_EQ(raw.stack.Send(kPgnProprietaryA, kPeer, next.data(), next.size()), J1939SendResult::Started);
  raw.stack.Receive(Cm(Cts(3, 1)));
  raw.refuse = [](const CanFrame& f) { return ParseJ1939Id(f.id).pgn == kPgnProprietaryA; };
  raw.stack.Receive(Cm(kEoma20));
  raw.sent.clear();
  raw.At(10000);
  const auto failed = Only(raw.events, J1939EventCode::TransmitFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].parameter, 3u);
  EXPECT_FALSE(failed[0].byPeer);
  EXPECT_TRUE(raw.sent.empty());
}

TEST_F(Transport, OutgoingWindowsAndRetransmission_FollowTheResponder) {
  OpenOutgoing();
  raw.stack.Receive(Cm(Cts(2, 1)));
  raw.stack.Receive(Cm(Cts(0, 3)));  // hold
  raw.stack.Receive(Cm(Cts(2, 2)));  // packet 2 again, then 3
  raw.stack.Receive(Cm(kEoma20));
  std::vector<std::uint8_t> seqs;
  for (const auto& f : raw.sent) seqs.push_back(f.data[0]);
  EXPECT_EQ(seqs, (std::vector<std::uint8_t>{1, 2, 2, 3}));
  EXPECT_EQ(DataOf(raw.sent.back()), (Bytes{3, 2, 2, 2, 2, 2, 2, 0xFF}));
  EXPECT_EQ(Only(raw.events, J1939EventCode::TransmitDone).size(), 1u);
}

TEST_F(Transport, RefusedDataPackets_RetriedAtTickAndCtsMeanwhileAborts) {
  OpenOutgoing();
  raw.refuse = [](const CanFrame& f) { return ParseJ1939Id(f.id).pgn == kPgnTransportData; };
  raw.stack.Receive(Cm(Cts(3, 1)));
  EXPECT_TRUE(raw.sent.empty());
  raw.refuse = nullptr;
  raw.At(1020);
  EXPECT_EQ(raw.sent.size(), 3u);
  raw.sent.clear();

  // Once more, and this time the responder does not wait for the window.
  raw.refuse = [](const CanFrame& f) { return ParseJ1939Id(f.id).pgn == kPgnTransportData; };
  raw.stack.Receive(Cm(Cts(3, 1)));
  raw.stack.Receive(Cm(Cts(3, 1)));
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{Abort(J1939AbortReason::CtsWhileSending)}));
  const auto failed = Only(raw.events, J1939EventCode::TransmitFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].parameter, 4u);
}

TEST_F(Transport, BroadcastWithGap_DroppedWithoutAbort) {
  raw.stack.Receive(Cm({0x20, 20, 0, 3, 0xFF, 0xDA, 0xFE, 0x00}, kJ1939GlobalAddress));
  raw.stack.Receive(Dt(1, 0x41, kJ1939GlobalAddress));
  raw.stack.Receive(Dt(3, 0x43, kJ1939GlobalAddress));
  raw.stack.Receive(Dt(2, 0x42, kJ1939GlobalAddress));
  EXPECT_TRUE(raw.sent.empty());
  EXPECT_TRUE(Only(raw.events, J1939EventCode::SoftwareIdentification).empty());
  EXPECT_EQ(raw.stack.TransportCounters().broadcastsDropped, 1u);
}

// Time-out boundaries: nothing happens at the limit, the abort comes one millisecond after it.
struct Boundary {
  const char* name;
  bool outgoing;
  std::vector<Bytes> afterOpen;  // peer frames (TP.CM from 28, or TP.DT when the first byte is < 16)
  int limitMs;
};

class TransportBoundary : public Transport, public ::testing::WithParamInterface<Boundary> {};

TEST_P(TransportBoundary, AbortOneMillisecondPastTheLimit) {
  const auto& p = GetParam();
  if (p.outgoing)
    OpenOutgoing();
  else
    OpenIncoming();
  for (const auto& frame : p.afterOpen) raw.stack.Receive(frame[0] < 16 ? Dt(frame[0], frame[1]) : Cm(frame));
  raw.sent.clear();
  raw.events.clear();
  raw.At(1000 + p.limitMs);
  EXPECT_TRUE(raw.sent.empty());
  raw.At(1000 + p.limitMs + 1);
  EXPECT_EQ(SentToPeer(), (std::vector<Bytes>{Abort(J1939AbortReason::Timeout)}));
  if (p.outgoing) {
    const auto failed = Only(raw.events, J1939EventCode::TransmitFailed);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].parameter, 3u);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TransportBoundary,
                         ::testing::Values(Boundary{"ResponderWaitsForFirstPacketT2", false, {}, 1250},
                                           Boundary{"ResponderBetweenPacketsT1", false, {{1, 0}}, 750},
                                           Boundary{"OriginatorWaitsForCtsT3", true, {}, 1250},
                                           Boundary{"OriginatorHoldT4", true, {Cts(0, 1)}, 1050},
                                           Boundary{"OriginatorWaitsForEomaT3", true, {Cts(3, 1)}, 1250}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Transport, BroadcastReceptionBoundary_T1) {
  auto announce = [&] {
    raw.stack.Receive(Cm({0x20, 20, 0, 3, 0xFF, 0xDA, 0xFE, 0x00}, kJ1939GlobalAddress));
  };
  announce();
  raw.At(1750);
  raw.stack.Receive(Dt(1, 0x41, kJ1939GlobalAddress));
  raw.At(2500);
  raw.stack.Receive(Dt(2, 0x42, kJ1939GlobalAddress));
  raw.stack.Receive(Dt(3, 0x43, kJ1939GlobalAddress));
  EXPECT_EQ(Only(raw.events, J1939EventCode::SoftwareIdentification).size(), 1u);

  announce();
  raw.At(3251);
  raw.stack.Receive(Dt(1, 0x41, kJ1939GlobalAddress));
  EXPECT_EQ(raw.stack.TransportCounters().broadcastsDropped, 1u);
  EXPECT_TRUE(raw.sent.empty());  // a broadcast is never answered
}

// Frames of the groups the stack handles, with random contents, lengths and peers, and time moving
// on: the stack must stay within its bounds and only ever speak as itself.
TEST_F(Transport, RandomFrames_NeverCrashAndOnlyEverSpeakAsItself) {
  std::uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  const std::uint32_t pgns[] = {kPgnTransportControl, kPgnTransportData,         kPgnRequest,
                                kPgnAddressClaim,     kPgnAcknowledgement,       kPgnProprietaryA,
                                kPgnProprietaryB,     kPgnSoftwareIdentification};
  const std::uint8_t controls[] = {0x10, 0x11, 0x13, 0x20, 0xFF};
  for (int i = 0; i < 200000; ++i) {
    const std::uint32_t pgn = pgns[next() % 8];
    const std::uint8_t source = static_cast<std::uint8_t>(20 + next() % 4);
    const std::uint8_t destination = next() % 3 == 0 ? kJ1939GlobalAddress : 249;
    CanFrame f = J1939Frame(pgn, destination, source, {});
    f.length =
        static_cast<std::uint8_t>(next() % 50 == 0 ? next() % 256 : 8 - (next() % 10 == 0 ? next() % 9 : 0));
    for (auto& b : f.data) b = static_cast<std::uint8_t>(next() % 4 == 0 ? next() : next() % 8);
    if (pgn == kPgnTransportControl) f.data[0] = controls[next() % 5];
    if (pgn == kPgnTransportControl && next() % 2) {  // mostly sizes that fit their packet counts
      const std::uint16_t size = static_cast<std::uint16_t>(1 + next() % 60);
      f.data[1] = static_cast<std::uint8_t>(size);
      f.data[2] = 0;
      f.data[3] = static_cast<std::uint8_t>((size + 6) / 7);
      f.data[5] = 0x00;
      f.data[6] = next() % 2 ? 0xEF : 0xFE;
      f.data[7] = 0x00;
    }
    raw.stack.Receive(f);
    if (next() % 16 == 0) raw.At(raw.clock.NowMs() + static_cast<std::int64_t>(next() % 400));
    if (next() % 500 == 0) {
      const Bytes body(1 + next() % 40, 0x02);
      raw.stack.Send(kPgnProprietaryA, source, body.data(), body.size());
    }
    for (const auto& sent : raw.sent) {
      ASSERT_LE(sent.length, 8);
      const J1939Id id = ParseJ1939Id(sent.id);
      ASSERT_EQ(id.source, 249) << i;
    }
    raw.sent.clear();
    raw.events.clear();
  }
  EXPECT_GT(raw.stack.Counters().malformed, 0u);
  EXPECT_GT(raw.stack.TransportCounters().abortsSent, 0u);
}

}  // namespace
