#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "link/protocol/kavo_packet.h"

// The receiver's data folder "A:\gpsData\" served from a local directory for the program's file
// transfer: list (0x8E 93 15 00), open (01 01), read block (01 02), close (01 03) and delete (03),
// answered with 0x8F 93 15 packets. Only plain file names directly in the directory are served;
// a name with a separator, "." or ".." is not found.
//
// With dropEvery N every Nth answer to an open, read or close is lost (traced DROP-REPLY), so the
// program's watchdog has to resend. Listing and delete answers are never dropped: the program has
// no resend for them. Single-threaded.
class CSimFileSystem {
 public:
  using SendFn = std::function<void(const KavoPacket& reply)>;  // sent with the checksum trailer
  using TraceFn = std::function<void(std::string_view line)>;

  static constexpr const char* kFolder = "A:\\gpsData\\";
  static constexpr std::size_t kMaxEntries = 255;  // the entry index is one byte
  static constexpr std::size_t kMaxOpen = 16;      // handles kept; the oldest is closed beyond

  CSimFileSystem(std::string directory, int dropEvery, SendFn send, TraceFn trace);
  ~CSimFileSystem();
  CSimFileSystem(const CSimFileSystem&) = delete;
  CSimFileSystem& operator=(const CSimFileSystem&) = delete;

  // True when `packet` was a file transfer request (answered or dropped).
  bool Handle(const KavoPacket& packet);

 private:
  void List(const KavoPacket& packet, std::size_t end);
  void Open(const KavoPacket& packet, std::size_t end);
  void Read(const KavoPacket& packet, std::size_t end);
  void Close(const KavoPacket& packet, std::size_t end);
  void Delete(const KavoPacket& packet, std::size_t end);
  // The local path for a remote path inside the data folder; empty when it names nothing servable.
  std::string LocalPath(const std::string& remote) const;
  void SendTransferReply(const KavoPacket& reply);

  std::string directory;
  int dropEvery;
  SendFn send;
  TraceFn trace;
  std::uint64_t transferReplies = 0;
  std::uint32_t nextHandle = 1;
  std::map<std::uint32_t, int> open;  // handle -> file descriptor
};
