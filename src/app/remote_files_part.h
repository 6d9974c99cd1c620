#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/connection_subscribers.h"

class CRemoteFileServer;

// The connection's remote file server: the receiver's card requests served from a PC folder while
// "RLI_Ena" is on. One CRemoteFileServer per connection, made when the connection's first request
// comes, on the folder `cardFolder` names at that moment (so a changed setting takes effect from
// the next connection on), answering through `send` with the checksum trailer; closed with every
// open file when the connection ends. User-interface thread only.
class CRemoteFilesPart final : public IRemoteFileService {
 public:
  using CardFolderSource = std::function<std::string()>;
  using SendFn = std::function<bool(const KavoPacket& packet, int withChecksum)>;

  CRemoteFilesPart(CardFolderSource cardFolder, SendFn send);
  ~CRemoteFilesPart() override;
  CRemoteFilesPart(const CRemoteFilesPart&) = delete;
  CRemoteFilesPart& operator=(const CRemoteFilesPart&) = delete;

  // The server of the running connection; nullptr before its first request and after it ended.
  CRemoteFileServer* Server() { return server.get(); }

  // IRemoteFileService
  void QueueRequest(const KavoPacket& packet) override;
  void ProcessRequests() override;
  void EndConnection() override;

 private:
  CardFolderSource cardFolder;
  SendFn send;
  std::unique_ptr<CRemoteFileServer> server;
};
