#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "files/card_folder.h"
#include "files/unique_fd.h"
#include "link/protocol/kavo_packet.h"

// The receiver's remote file requests and the PC's answers.

enum class RemoteFileOp : std::uint8_t {
  List = 0x10,
  Open = 0x11,
  Close = 0x12,
  Write = 0x13,
  Read = 0x14,
  Seek = 0x15,
  Tell = 0x16,
  Remove = 0x17,
  CardInfo = 0x1A,
  WriteAt = 0x1B,
};

// Error codes carried (u16) in the answers.
enum class RemoteFileError : std::uint16_t {
  None = 0,
  NotFound = 2,        // file or path not found, or a name that cannot exist
  IoError = 5,         // the request came with a wrong checksum; nothing was done for it
  BadBlock = 4,        // block number out of range, file not writable, or the write failed
  BadHandleWrite = 6,  // write to a handle that is not open
  BadBlockLength = 8,  // block longer than 120 bytes, a short non-last block, or a short packet
  BadHandle = 9,       // bad handle, or block out of sequence
  AccessDenied = 13,   // permissions, or a name that leads out of the card folder
  BadPosition = 22,    // a seek to a position the file cannot have
  NoFreeHandle = 24,
  OpenFailed = 28,        // other open failure or unknown mode
  SharingViolation = 30,  // the file is already open
};

// True for a packet the remote file server takes: id 0x8F, data 0 0x8C, length at least 4,
// operation 0x10..0x1B in data 1. One with a wrong checksum is taken too, to be answered with an
// I/O error (and nothing else: a flipped bit could name the wrong file).
bool IsRemoteFileRequest(const KavoPacket& packet);

// The PC side of the receiver's virtual memory card. Requests are queued as they arrive and
// carried out by ProcessRequests, oldest first; every answer goes out through `send`, which must
// add the checksum trailer. Files live under the card folder and every name is confined to it
// (see CCardFolder): a refused name answers 2 or 13 and touches nothing. The folder answers as the
// receiver's FAT card does: names without regard to case, DOS patterns in listings ("*.*" lists
// every file), "\\" and "A:\\" for its root. A request with a wrong checksum is answered with
// error 5 and not carried out (a list with the end entry only, carrying the error at 4-5; card
// information with it at 12-13), so that the receiver need not wait out its time-out.
//
// Single-threaded: queue and process on the same thread. Open files stay open until the
// receiver closes them or the server is destroyed.
class CRemoteFileServer {
 public:
  using SendFn = std::function<void(const KavoPacket& answer)>;

  static constexpr int kSlots = 100;               // handles 0..99
  static constexpr std::size_t kBlockSize = 120;   // bytes per read or write block
  static constexpr std::size_t kMaxQueued = 1024;  // requests beyond this are dropped

  CRemoteFileServer(std::filesystem::path cardFolder, SendFn send,
                    CCardFolder::Resolver resolver = CCardFolder::Resolver::Auto);
  ~CRemoteFileServer();
  CRemoteFileServer(const CRemoteFileServer&) = delete;
  CRemoteFileServer& operator=(const CRemoteFileServer&) = delete;

  // Appends a copy of `packet` when IsRemoteFileRequest holds and the queue has room.
  bool QueueRequest(const KavoPacket& packet);
  // Handles every queued request, oldest first, until the queue is empty.
  void ProcessRequests();

  std::size_t QueuedRequests() const { return queue.size(); }
  // Requests dropped: queue full, or too short for their fixed fields.
  std::uint64_t DroppedRequests() const { return dropped; }
  int OpenFiles() const;
  const CCardFolder& Folder() const { return folder; }

 private:
  struct OpenFile {
    CUniqueFd fd;
    bool writable = false;
    std::uint8_t inBlockSequence = 0;
    std::uint32_t lastBlock = 0;
    std::int32_t savedPosition = 0;
    bool restorePosition = false;  // a write-at sequence saved savedPosition and must seek back
  };

  void Handle(const KavoPacket& request);
  void List(const KavoPacket& request);
  void Open(const KavoPacket& request);
  void Close(const KavoPacket& request);
  void Write(const KavoPacket& request, bool at);
  void Read(const KavoPacket& request);
  void Seek(const KavoPacket& request, bool tell);
  void Remove(const KavoPacket& request);
  void CardInfo(RemoteFileError error = RemoteFileError::None);
  void AnswerDamaged(const KavoPacket& request);

  OpenFile* Slot(std::int32_t handle);
  void EndSequence(OpenFile& file);
  void SendHandleAnswer(RemoteFileOp op, std::int32_t handle, RemoteFileError error);

  CCardFolder folder;
  SendFn send;
  std::deque<std::unique_ptr<KavoPacket>> queue;
  std::array<std::unique_ptr<OpenFile>, kSlots> openFiles;
  std::uint64_t dropped = 0;
};
