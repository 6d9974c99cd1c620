#pragma once

#include <QAbstractSocket>
#include <algorithm>
#include <cstdint>

#include "link/protocol/ring_buffer.h"
#include "link/protocol/stream_message.h"

// Moves everything `socket` has received through `ring` and hands each whole stream message to
// `handle` (a callable taking const StreamMessage&). Bytes are read only as far as the ring has
// room, and the ring is emptied of whole messages before the next read, so nothing is dropped
// for want of space: a message that could never fit the ring is skipped by the extraction like a
// corrupt header, hence a full ring always yields a message and the loop always ends with the
// socket drained (Qt signals readyRead again only for new data).
template <typename Handler>
void ReadStreamMessages(QAbstractSocket& socket, RingBuffer& ring, StreamMessage& message, Handler&& handle) {
  char chunk[4096];
  for (;;) {
    const qint64 room = std::min<qint64>(static_cast<qint64>(sizeof chunk), ring.Free());
    const qint64 got = socket.read(chunk, room);
    if (got <= 0) return;
    ring.Write(reinterpret_cast<const std::uint8_t*>(chunk), static_cast<std::uint32_t>(got));
    while (ExtractStreamMessage(ring, message)) handle(message);
  }
}
