#include "files/file_xfer_packets.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "files/packet_fields.h"
#include "link/protocol/kavo_ids.h"

namespace {

KavoPacket Request(std::initializer_list<std::uint8_t> head) {
  KavoPacket p;
  p.id = kavo::kIdSuperRequest;
  std::size_t n = 0;
  for (std::uint8_t b : head) p.data[n++] = b;
  p.length = static_cast<std::uint16_t>(n);
  return p;
}

KavoPacket WithText(KavoPacket p, const std::string& text) {
  const std::size_t n = std::min(text.size(), kXferMaxRemotePath);
  std::memcpy(p.data + p.length, text.data(), n);
  p.data[p.length + n] = 0;
  p.length = static_cast<std::uint16_t>(p.length + n + 1);
  return p;
}

}  // namespace

KavoPacket BuildXferListRequest(const std::string& folder) {
  return WithText(Request({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x00}), folder);
}

KavoPacket BuildXferOpenRequest(const std::string& remotePath) {
  return WithText(Request({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x01, 0x01}), remotePath);
}

KavoPacket BuildXferReadRequest(std::uint32_t handle, std::uint32_t offset, std::uint8_t count) {
  KavoPacket p = Request({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x01, 0x02});
  PutBe32(p.data + 4, handle);
  PutBe32(p.data + 8, offset);
  p.data[12] = count;
  p.length = 13;
  return p;
}

KavoPacket BuildXferCloseRequest(std::uint32_t handle) {
  KavoPacket p = Request({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x01, 0x03});
  PutBe32(p.data + 4, handle);
  p.length = 8;
  return p;
}

KavoPacket BuildXferDeleteRequest(const std::string& remotePath) {
  return WithText(Request({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x03}), remotePath);
}
