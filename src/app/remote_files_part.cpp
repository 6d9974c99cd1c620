#include "app/remote_files_part.h"

#include "files/remote_file_server.h"

CRemoteFilesPart::CRemoteFilesPart(CardFolderSource folderSource, SendFn sendFn)
    : cardFolder(std::move(folderSource)), send(std::move(sendFn)) {}

CRemoteFilesPart::~CRemoteFilesPart() = default;

void CRemoteFilesPart::QueueRequest(const KavoPacket& packet) {
  if (!server) {
    server = std::make_unique<CRemoteFileServer>(cardFolder ? cardFolder() : std::string(),
                                                 [this](const KavoPacket& answer) {
                                                   if (send) send(answer, 1);
                                                 });
  }
  server->QueueRequest(packet);
}

void CRemoteFilesPart::ProcessRequests() {
  if (server) server->ProcessRequests();
}

void CRemoteFilesPart::EndConnection() {
  server.reset();
}
