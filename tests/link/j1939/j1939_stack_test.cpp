#include "link/j1939/j1939_stack.h"

#include <gtest/gtest.h>

#include <numeric>

#include "j1939_test_support.h"
#include "link/j1939/kavo_can_body.h"

namespace {

constexpr std::uint32_t kClaimId = 0x18EEFFF9;  // priority 6, address claim, to all, from 249

TEST(J1939Stack, NoContender_ClaimStandsAfter250msAndNothingElseIsSentBefore) {
  CBusFixture bus;
  auto& a = bus.Add(ConfigWithName(ProgramJ1939Name(1)));
  a.stack->Start();

  auto written = bus.bus.Written();
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].id, kClaimId);
  EXPECT_EQ(DataOf(written[0]), (Bytes{0x40, 0x10, 0xA0, 0x08, 0x20, 0x1C, 0x00, 0x80}));

  const Bytes body{kKavoCanCommandPacket, 1, 0, 0x8E, 0x93, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(a.stack->Send(kPgnProprietaryA, 28, body.data(), body.size()), J1939SendResult::NotClaimed);
  EXPECT_EQ(a.stack->SendSoftwareIdentification(), J1939SendResult::NotClaimed);
  bus.Run(240);
  EXPECT_EQ(a.stack->ClaimState(), J1939ClaimState::Claiming);
  EXPECT_EQ(bus.bus.Written().size(), 1u);

  bus.Run(20);
  EXPECT_TRUE(a.stack->IsClaimed());
  EXPECT_EQ(a.stack->Address(), 249);
  auto claimed = Only(a.events, J1939EventCode::AddressClaimed);
  ASSERT_EQ(claimed.size(), 1u);
  EXPECT_EQ(claimed[0].parameter, 249u);
  EXPECT_EQ(a.stack->Send(kPgnProprietaryA, 28, body.data(), body.size()), J1939SendResult::Sent);
  written = bus.bus.Written();
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[1].id, 0x18EF1CF9u);
  EXPECT_EQ(DataOf(written[1]), body);
}

TEST(J1939Stack, ContenderWithLowerName_WinsAndWeMoveToTheDynamicRange) {
  CBusFixture bus;
  auto& we = bus.Add(ConfigWithName(ProgramJ1939Name(1)));
  auto& other = bus.Add(ConfigWithName(LowName(7)));
  we.stack->Start();
  other.stack->Start();
  bus.Pump();
  bus.Run(300);

  EXPECT_TRUE(other.stack->IsClaimed());
  EXPECT_EQ(other.stack->Address(), 249);
  EXPECT_TRUE(we.stack->IsClaimed());
  EXPECT_EQ(we.stack->Address(), 128);
  // Our second claim went out from the new address, and the winner is in our table.
  const auto claims = WithPgn(bus.bus.Written(), kPgnAddressClaim);
  EXPECT_TRUE(
      std::any_of(claims.begin(), claims.end(), [](const CanFrame& f) { return f.id == 0x18EEFF80u; }));
  const J1939Node* winner = we.stack->Nodes().Find(249);
  ASSERT_NE(winner, nullptr);
  EXPECT_EQ(winner->name, LowName(7));
}

TEST(J1939Stack, SecondProgramInstanceClaimsLate_WeDefendAndItMoves) {
  CBusFixture bus;
  auto& we = bus.Add(ConfigWithName(ProgramJ1939Name(1)));
  auto& other = bus.Add(ConfigWithName(ProgramJ1939Name(2)));  // instance bits make its NAME higher
  we.stack->Start();
  bus.Pump();
  bus.Run(260);
  ASSERT_TRUE(we.stack->IsClaimed());

  bus.bus.ClearWritten();
  other.stack->Start();
  bus.Pump();
  bus.Run(300);
  EXPECT_TRUE(we.stack->IsClaimed());
  EXPECT_EQ(we.stack->Address(), 249);
  EXPECT_TRUE(other.stack->IsClaimed());
  EXPECT_EQ(other.stack->Address(), 128);
  const auto written = bus.bus.Written();
  ASSERT_EQ(written.size(), 3u);  // their claim, our defence, their claim of 128
  EXPECT_EQ(written[0].id, kClaimId);
  EXPECT_EQ(written[0].data[4], 0x40);
  EXPECT_EQ(written[1].id, kClaimId);
  EXPECT_EQ(written[1].data[4], 0x20);
  EXPECT_EQ(written[2].id, 0x18EEFF80u);
}

TEST(J1939Stack, LoserWithoutArbitraryAddress_SendsCannotClaimAndFallsSilent) {
  CBusFixture bus;
  auto& holder = bus.Add(ConfigWithName(LowName(3)));
  auto& we = bus.Add(ConfigWithName(LowName(9)));
  holder.stack->Start();
  bus.Pump();
  bus.Run(260);
  bus.bus.ClearWritten();

  we.stack->Start();
  bus.Pump();
  bus.Run(300);
  EXPECT_TRUE(holder.stack->IsClaimed());
  EXPECT_EQ(we.stack->ClaimState(), J1939ClaimState::CannotClaim);
  EXPECT_EQ(Only(we.events, J1939EventCode::CannotClaimAddress).size(), 1u);
  EXPECT_TRUE(Only(we.events, J1939EventCode::AddressClaimed).empty());
  const auto written = bus.bus.Written();
  ASSERT_EQ(written.size(), 3u);  // our claim, their defence, our cannot-claim
  EXPECT_EQ(written[2].id, 0x18EEFFFEu);
  const J1939Name ours = LowName(9);
  EXPECT_EQ(DataOf(written[2]), Bytes(ours.begin(), ours.end()));
  const Bytes one{1};
  EXPECT_EQ(we.stack->Send(kPgnProprietaryA, 249, one.data(), one.size()), J1939SendResult::NotClaimed);

  // A request for claims is answered with the cannot-claim again.
  holder.stack->SendRequest(kPgnAddressClaim, 255);
  bus.Pump();
  EXPECT_EQ(bus.bus.Written().back().id, 0x18EEFFFEu);
}

struct TwoClaimedNodes : ::testing::Test {
  void SetUp() override {
    a = &bus.Add(ConfigWithName(ProgramJ1939Name(1), 249));
    b = &bus.Add(ConfigWithName(LowName(3), 28));
    a->stack->Start();
    b->stack->Start();
    bus.Pump();
    bus.Run(260);
    ASSERT_TRUE(a->stack->IsClaimed());
    ASSERT_TRUE(b->stack->IsClaimed());
    bus.bus.ClearWritten();
    a->events.clear();
    b->events.clear();
  }
  CBusFixture bus;
  CBusFixture::Node* a = nullptr;
  CBusFixture::Node* b = nullptr;
};

TEST_F(TwoClaimedNodes, ConnectionModeTransferOf1785Bytes_ArrivesWholeInWindowsOf16) {
  Bytes body(kJ1939MaxBody);
  std::iota(body.begin(), body.end(), 0);
  body[0] = kKavoCanCommandPacket;
  ASSERT_EQ(a->stack->Send(kPgnProprietaryA, 28, body.data(), body.size()), J1939SendResult::Started);
  bus.Pump();

  const auto packets = Only(b->events, J1939EventCode::KavoPacket);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].address, 249);
  EXPECT_EQ(packets[0].body, body);
  EXPECT_EQ(Only(a->events, J1939EventCode::TransmitDone).size(), 1u);

  const auto written = bus.bus.Written();
  const auto control = WithPgn(written, kPgnTransportControl);
  ASSERT_EQ(control.size(), 1u + 16u + 1u);  // RTS, 16 CTS (255 packets by 16), EOMA
  EXPECT_EQ(control[0].id, 0x18EC1CF9u);
  EXPECT_EQ(DataOf(control[0]), (Bytes{0x10, 0xF9, 0x06, 0xFF, 0xFF, 0x00, 0xEF, 0x00}));
  EXPECT_EQ(DataOf(control[1]), (Bytes{0x11, 16, 1, 0xFF, 0xFF, 0x00, 0xEF, 0x00}));
  EXPECT_EQ(DataOf(control[16]), (Bytes{0x11, 15, 241, 0xFF, 0xFF, 0x00, 0xEF, 0x00}));
  EXPECT_EQ(DataOf(control[17]), (Bytes{0x13, 0xF9, 0x06, 0xFF, 0xFF, 0x00, 0xEF, 0x00}));
  const auto data = WithPgn(written, kPgnTransportData);
  ASSERT_EQ(data.size(), 255u);
  EXPECT_EQ(data[254].data[0], 255);
  EXPECT_EQ(DataOf(data[254]),
            (Bytes{255, body[1778], body[1779], body[1780], body[1781], body[1782], body[1783], body[1784]}));
}

TEST_F(TwoClaimedNodes, BroadcastTransfer_PacedAt50msAndReadBackAsIdentification) {
  ASSERT_EQ(a->stack->SendSoftwareIdentification(), J1939SendResult::Started);
  bus.Pump();
  const std::string& text = a->stack->SoftwareIdentificationText();
  const auto packets = static_cast<std::uint8_t>((text.size() + 6) / 7);
  auto written = bus.bus.Written();
  ASSERT_EQ(written.size(), 1u);  // the announcement alone
  EXPECT_EQ(written[0].id, 0x18ECFFF9u);
  EXPECT_EQ(DataOf(written[0]),
            (Bytes{0x20, static_cast<std::uint8_t>(text.size()), 0, packets, 0xFF, 0xDA, 0xFE, 0x00}));
  bus.Run(40);
  EXPECT_EQ(bus.bus.Written().size(), 1u);
  bus.Run(20);
  EXPECT_EQ(WithPgn(bus.bus.Written(), kPgnTransportData).size(), 1u);
  bus.Run(60 * packets);

  const auto data = WithPgn(bus.bus.Written(), kPgnTransportData);
  ASSERT_EQ(data.size(), packets);
  for (std::size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(ParseJ1939Id(data[i].id).destination, 255);
    EXPECT_EQ(data[i].data[0], i + 1);
  }
  EXPECT_EQ(data.back().data[7], 0xFF);  // padding of the last packet
  const auto ids = Only(b->events, J1939EventCode::SoftwareIdentification);
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(ids[0].address, 249);
  EXPECT_EQ(std::string(ids[0].body.begin(), ids[0].body.end()), text);
  ASSERT_TRUE(ids[0].hasIdentification);
  EXPECT_EQ(ids[0].identification.name, ProgramJ1939Name(1));
  EXPECT_EQ(Only(a->events, J1939EventCode::TransmitDone).size(), 1u);
}

TEST_F(TwoClaimedNodes, LostClearToSend_OriginatorAbortsWithTimeoutAfterT3) {
  // Every CTS is lost on the wire: the originator hears nothing after its RTS.
  bus.bus.SetLossRule([](const CanFrame& f) { return ParseJ1939Id(f.id).source == 28; });
  const Bytes body(100, 0x02);
  ASSERT_EQ(a->stack->Send(kPgnProprietaryA, 28, body.data(), body.size()), J1939SendResult::Started);
  bus.Pump();
  bus.Run(1240);
  EXPECT_TRUE(Only(a->events, J1939EventCode::TransmitFailed).empty());
  bus.Run(20);  // 1260 ms after the RTS: past T3
  const auto failed = Only(a->events, J1939EventCode::TransmitFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].parameter, static_cast<std::uint32_t>(J1939AbortReason::Timeout));
  EXPECT_EQ(failed[0].address, 28);
  std::vector<Bytes> ours;  // what the originator sent on TP.CM: the RTS, then the abort
  for (const auto& f : WithPgn(bus.bus.Written(), kPgnTransportControl))
    if (f.id == 0x18EC1CF9u) ours.push_back(DataOf(f));
  ASSERT_EQ(ours.size(), 2u);
  EXPECT_EQ(ours[1], (Bytes{0xFF, 3, 0xFF, 0xFF, 0xFF, 0x00, 0xEF, 0x00}));
  // The responder, whose CTS went nowhere, gives up after T2 with its own abort.
  EXPECT_EQ(b->stack->TransportCounters().abortsSent, 1u);
}

TEST_F(TwoClaimedNodes, SecondMessageToSameNode_WaitsForTheFirstToFinish) {
  const Bytes first(20, 0x02), second(30, 0x03);
  ASSERT_EQ(a->stack->Send(kPgnProprietaryA, 28, first.data(), first.size()), J1939SendResult::Started);
  ASSERT_EQ(a->stack->Send(kPgnProprietaryA, 28, second.data(), second.size()), J1939SendResult::Started);
  bus.Pump();
  const auto got = Only(b->events, J1939EventCode::ProprietaryCommand);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].body, first);
  EXPECT_EQ(got[1].body, second);
  EXPECT_EQ(Only(a->events, J1939EventCode::TransmitDone).size(), 2u);
}

// Packets to one receiver arrive in the order they were sent: one of 8 bytes or fewer waits for a
// longer one still in its RTS/CTS transfer (or queued for one) to the same node, and is reported
// done like a transfer; a packet to another node does not wait.
TEST_F(TwoClaimedNodes, ShortPacketsAfterALongOneToTheSameNode_ArriveInTheOrderSent) {
  auto kavoBody = [](std::size_t size, std::uint8_t fill) {
    Bytes body(size, fill);
    body[0] = kKavoCanCommandPacket;
    return body;
  };
  const Bytes longOne = kavoBody(300, 0x01), shortOne = kavoBody(8, 0x02), shorter = kavoBody(3, 0x03),
              longAgain = kavoBody(20, 0x04), toOther = kavoBody(8, 0x05);
  ASSERT_EQ(a->stack->Send(kPgnProprietaryA, 28, longOne.data(), longOne.size()), J1939SendResult::Started);
  EXPECT_EQ(a->stack->Send(kPgnProprietaryA, 28, shortOne.data(), shortOne.size()), J1939SendResult::Started);
  EXPECT_EQ(a->stack->Send(kPgnProprietaryA, 28, longAgain.data(), longAgain.size()),
            J1939SendResult::Started);
  EXPECT_EQ(a->stack->Send(kPgnProprietaryA, 28, shorter.data(), shorter.size()), J1939SendResult::Started);
  EXPECT_EQ(a->stack->Send(kPgnProprietaryA, 40, toOther.data(), toOther.size()), J1939SendResult::Sent);
  bus.Pump();
  bus.Run(200);

  std::vector<Bytes> arrived;
  for (const auto& e : Only(b->events, J1939EventCode::KavoPacket)) arrived.push_back(e.body);
  EXPECT_EQ(arrived, (std::vector<Bytes>{longOne, shortOne, longAgain, shorter}));
  EXPECT_EQ(Only(a->events, J1939EventCode::TransmitDone).size(), 4u);
  EXPECT_EQ(a->stack->TransportCounters().timeouts, 0u);
  // With nothing under way a short packet goes at once again.
  EXPECT_EQ(a->stack->Send(kPgnProprietaryA, 28, shortOne.data(), shortOne.size()), J1939SendResult::Sent);
}

TEST(J1939Stack, BodyOver1785Bytes_Refused) {
  RawStack raw;
  raw.Claim();
  const Bytes big(kJ1939MaxBody + 1, 0x08);
  EXPECT_EQ(raw.stack.Send(kPgnProprietaryA, 28, big.data(), big.size()), J1939SendResult::TooLong);
  EXPECT_EQ(raw.stack.Send(kPgnSoftwareIdentification, 255, big.data(), big.size()),
            J1939SendResult::TooLong);
  EXPECT_TRUE(raw.sent.empty());
  EXPECT_EQ(raw.stack.Send(kPgnProprietaryA, 28, big.data(), kJ1939MaxBody), J1939SendResult::Started);
  EXPECT_EQ(raw.sent.size(), 1u);
}

TEST(J1939Stack, ProprietaryFromUnknownNode_RequestsItsIdentificationOnce) {
  RawStack raw;
  raw.Claim();
  const Bytes body{0x08, 0x01, 0x00, 0x8E, 0x93, 0xFF, 0xFF, 0xFF};
  raw.stack.Receive(J1939Frame(kPgnProprietaryA, 249, 28, body));
  ASSERT_EQ(raw.sent.size(), 1u);
  EXPECT_EQ(raw.sent[0].id, 0x18EA1CF9u);
  EXPECT_EQ(DataOf(raw.sent[0]), (Bytes{0xDA, 0xFE, 0x00}));
  const auto packets = Only(raw.events, J1939EventCode::KavoPacket);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].address, 28);
  EXPECT_EQ(packets[0].body, body);

  raw.stack.Receive(J1939Frame(kPgnProprietaryA, 249, 28, body));
  EXPECT_EQ(raw.sent.size(), 1u);
  ASSERT_NE(raw.stack.Nodes().Find(28), nullptr);
  EXPECT_EQ(raw.stack.Nodes().Find(28)->state, J1939NodeState::IdentificationRequested);

  // Proprietary B is dispatched the same way.
  raw.stack.Receive(J1939Frame(kPgnProprietaryB, 255, 40, {0x0B, 1, 7, 9}));
  ASSERT_EQ(raw.sent.size(), 2u);
  EXPECT_EQ(raw.sent[1].id, 0x18EA28F9u);
  const auto echo = Only(raw.events, J1939EventCode::Echo);
  ASSERT_EQ(echo.size(), 1u);
  EXPECT_EQ(echo[0].parameter, 1u);
}

TEST(J1939Stack, ProprietaryForAnotherNode_Ignored) {
  RawStack raw;
  raw.Claim();
  raw.stack.Receive(J1939Frame(kPgnProprietaryA, 100, 28, {0x08, 0, 0, 0x8E}));
  EXPECT_TRUE(raw.sent.empty());
  EXPECT_TRUE(raw.events.empty());
  EXPECT_EQ(raw.stack.Counters().ignored, 1u);
}

TEST(J1939Stack, Requests_ClaimAnsweredIdentificationReportedOthersNacked) {
  RawStack raw;
  raw.Claim();
  raw.stack.Receive(J1939Frame(kPgnRequest, 255, 28, {0x00, 0xEE, 0x00}));
  ASSERT_EQ(raw.sent.size(), 1u);
  EXPECT_EQ(raw.sent[0].id, kClaimId);

  raw.stack.Receive(J1939Frame(kPgnRequest, 249, 28, {0xDA, 0xFE, 0x00}));
  const auto requests = Only(raw.events, J1939EventCode::Request);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].pgn, kPgnSoftwareIdentification);
  EXPECT_EQ(requests[0].address, 28);

  raw.stack.Receive(J1939Frame(kPgnRequest, 249, 28, {0x00, 0xF0, 0x00}));
  ASSERT_EQ(raw.sent.size(), 2u);
  EXPECT_EQ(raw.sent[1].id, 0x18E8FFF9u);
  EXPECT_EQ(DataOf(raw.sent[1]), (Bytes{0x01, 0xFF, 0xFF, 0xFF, 28, 0x00, 0xF0, 0x00}));
}

TEST(J1939Stack, BeforeClaimStands_OnlyClaimsAndClaimRequestsAreHandled) {
  RawStack raw;
  raw.stack.Start();
  raw.sent.clear();
  raw.stack.Receive(J1939Frame(kPgnProprietaryA, 249, 28, {0x08, 0, 0, 0x8E}));
  raw.stack.Receive(J1939Frame(kPgnRequest, 249, 28, {0xDA, 0xFE, 0x00}));
  EXPECT_TRUE(raw.sent.empty());
  EXPECT_TRUE(raw.events.empty());
  raw.stack.Receive(J1939Frame(kPgnRequest, 255, 28, {0x00, 0xEE, 0x00}));
  EXPECT_EQ(raw.sent.size(), 1u);
}

TEST(J1939Stack, NodeListRequest_AnsweredWithNamedNodes) {
  RawStack raw;
  raw.Claim();
  const J1939Name name = LowName(5);
  raw.stack.Receive(J1939Frame(kPgnAddressClaim, 255, 28, Bytes(name.begin(), name.end())));
  raw.stack.Receive(J1939Frame(kPgnProprietaryA, 249, 28, {0x0C}));
  // The identification request for the unknown node, then the list, 12 bytes, by RTS.
  ASSERT_EQ(raw.sent.size(), 2u);
  EXPECT_EQ(raw.sent[1].id, 0x18EC1CF9u);
  EXPECT_EQ(raw.sent[1].data[1], 12);
  raw.stack.Receive(J1939Frame(kPgnTransportControl, 249, 28, {0x11, 2, 1, 0xFF, 0xFF, 0x00, 0xEF, 0x00}));
  ASSERT_EQ(raw.sent.size(), 4u);
  EXPECT_EQ(DataOf(raw.sent[2]), (Bytes{1, 0x0C, 1, 28, 1, name[0], name[1], name[2]}));
  EXPECT_EQ(DataOf(raw.sent[3]), (Bytes{2, name[3], name[4], name[5], name[6], name[7], 0xFF, 0xFF}));
}

TEST(J1939Stack, Stop_EndsTransfersAndFallsSilentUntilStart) {
  RawStack raw;
  raw.Claim();
  const Bytes body(20, 0x02);
  ASSERT_EQ(raw.stack.Send(kPgnProprietaryA, 28, body.data(), body.size()), J1939SendResult::Started);
  raw.sent.clear();
  raw.stack.Stop();
  const auto failed = Only(raw.events, J1939EventCode::TransmitFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].parameter, static_cast<std::uint32_t>(J1939AbortReason::ResourcesNeeded));
  raw.stack.Receive(J1939Frame(kPgnRequest, 255, 28, {0x00, 0xEE, 0x00}));
  raw.stack.Receive(J1939Frame(kPgnTransportControl, 249, 28, {0x11, 3, 1, 0xFF, 0xFF, 0x00, 0xEF, 0x00}));
  raw.At(10000);
  EXPECT_TRUE(raw.sent.empty());
  EXPECT_EQ(raw.stack.Send(kPgnProprietaryA, 28, body.data(), 8), J1939SendResult::NotClaimed);

  raw.stack.Start();
  ASSERT_EQ(raw.sent.size(), 1u);
  EXPECT_EQ(raw.sent[0].id, kClaimId);
}

}  // namespace
