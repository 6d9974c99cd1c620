#pragma once

#include <cstdint>
#include <string>

#include "link/protocol/kavo_packet.h"

// Requests of the file transfer (super-packet requests) and the receiver's replies (super-packet
// reports); both carry the system group's file transfer code and are sent with a checksum
// trailer. Numbers are big-endian.

// The receiver's data folder that is listed and downloaded from.
inline constexpr const char* kXferRemoteFolder = "A:\\gpsData\\";

// Longest remote path a request carries: the open request (4 bytes, path, NUL) plus the trailer
// must stay below the packet limit. Longer paths are cut.
inline constexpr std::size_t kXferMaxRemotePath = kKavoMaxData - 8;

// 93 15 00, folder, 00
KavoPacket BuildXferListRequest(const std::string& folder);
// 93 15 01 01, path, 00
KavoPacket BuildXferOpenRequest(const std::string& remotePath);
// 93 15 01 02, handle, offset, count: 13 bytes
KavoPacket BuildXferReadRequest(std::uint32_t handle, std::uint32_t offset, std::uint8_t count);
// 93 15 01 03, handle: 8 bytes
KavoPacket BuildXferCloseRequest(std::uint32_t handle);
// 93 15 03, path, 00
KavoPacket BuildXferDeleteRequest(const std::string& remotePath);
