#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/protocol/kavo_packet.h"

class ILinkTransport;

// What a transport tells the link it belongs to. Called on whatever thread the transport works
// on (the serial reader, the CAN connect and reader threads, the link's own thread for sockets).
class ITransportEvents {
 public:
  virtual ~ITransportEvents() = default;
  // The link is up: the owner hears status 0.
  virtual void TransportUp() = 0;
  // An open failed or a link that was up is gone: the link is marked closed and the owner hears
  // status 1.
  virtual void TransportDown() = 0;
  // Bytes from the receiver, in wire framing, as one read brought them.
  virtual void TransportBytes(const std::uint8_t* bytes, std::size_t count) = 0;
  // A "* " line about the transport (without the line end) for the owner's log.
  virtual void TransportNotice(const std::string& line) = 0;
  // Whether the link counts as up (a link marked closed by an Open on an open link is not).
  virtual bool LinkUp() const = 0;
  // Whether the link currently runs over `transport`.
  virtual bool IsCurrent(const ILinkTransport& transport) const = 0;
};

// One way to reach the receiver (serial port, network client, CAN bus), behind the link façade.
// Called from the link's thread.
class ILinkTransport {
 public:
  virtual ~ILinkTransport() = default;

  // Starts opening transport `number` (the serial slot, the CAN channel, 0 for the network);
  // the outcome arrives later as TransportUp or TransportDown. False when nothing could be
  // started (then nothing more is reported). `reopen`: a link lost before is opened again.
  virtual bool Open(int number, bool autoConfigure, bool reopen) = 0;
  // Closes a link that is up; false when the transport had nothing open to close.
  virtual bool Close() = 0;
  // Ends whatever an earlier open left running (an attempt still pending, a reader of a link
  // marked closed) without a word to the owner.
  virtual void Abandon() = 0;
  // Sends one packet, framed with the checksum trailer when `withChecksum` is 1; false when it
  // could not be framed. Transport errors are the transport's to log.
  virtual bool SendFrame(const KavoPacket& packet, std::uint8_t withChecksum) = 0;
  // Sends bytes that are framed already; false when they cannot go this way.
  virtual bool SendRaw(const std::uint8_t* bytes, std::size_t count) = 0;
};
