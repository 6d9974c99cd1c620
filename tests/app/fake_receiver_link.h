#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/receiver_link.h"
#include "app/timer_host.h"

// A link that records what is sent and hands out packets the test queued.
class CFakeReceiverLink final : public IReceiverLink {
 public:
  struct Sent {
    int linkType;
    std::vector<std::uint8_t> bytes;  // id then payload
    int withChecksum;
  };

  bool SetSerialParams(int b, char p, int d, int s) override {
    baud = b;
    parity = p;
    dataBits = d;
    stopBits = s;
    return configureResult;
  }
  bool SetCanParams(int, int, int) override { return configureResult; }
  bool SetServer(const std::string&, std::uint32_t) override { return configureResult; }
  void SetRelayServer(bool enabled, std::uint32_t port) override {
    relayEnabled = enabled;
    relayPort = port;
  }
  void SetNoticeHandler(std::function<void(const std::string&)> onNotice) override { notice = onNotice; }
  bool Open(int type, bool) override {
    openedType = type;
    open = openResult;
    return openResult;
  }
  void Close(int) override {
    open = false;
    ++closes;
  }
  bool IsConnected() override { return open; }
  bool SendPacket(int type, const KavoPacket& p, int withChecksum) override {
    Sent s{type, {p.id}, withChecksum};
    s.bytes.insert(s.bytes.end(), p.data, p.data + p.length);
    sent.push_back(s);
    return true;
  }
  void RelayPacket(const KavoPacket&) override { ++relayed; }
  void TakePackets(CPacketBatch& batch) override {
    batch.Clear();
    for (const KavoPacket& p : incoming) batch.Add(p);
    incoming.clear();
  }

  bool configureResult = true;
  bool openResult = true;
  bool open = false;
  int openedType = -1;
  int closes = 0;
  int baud = 0;
  char parity = 0;
  int dataBits = 0, stopBits = 0;
  bool relayEnabled = false;
  std::uint32_t relayPort = 0;
  int relayed = 0;
  std::vector<Sent> sent;
  std::deque<KavoPacket> incoming;
  std::function<void(const std::string&)> notice;
};

class CFakeTimers final : public ITimerHost {
 public:
  void StartTimer(int id, int periodMs) override { running[id] = periodMs; }
  void KillTimer(int id) override { running.erase(id); }
  bool Running(int id) const { return running.count(id) != 0; }
  std::map<int, int> running;
};
