#include "files/file_xfer_engine.h"

#include <fnmatch.h>

#include <algorithm>

#include "files/file_xfer_packets.h"
#include "files/packet_fields.h"
#include "link/protocol/kavo_ids.h"

CFileXferEngine::CFileXferEngine(IsConnectedFn isConnected, SendFn send)
    : isConnected(std::move(isConnected)), send(std::move(send)) {}

CFileXferEngine::~CFileXferEngine() = default;

void CFileXferEngine::Refresh() {
  entries.clear();
  listReplies = 0;
  listActivityTick = ticks;
  dirty = true;
  SendRequest(BuildXferListRequest(kXferRemoteFolder));
  Notify();
}

void CFileXferEngine::GetFiles(const std::vector<int>& selected) {
  std::vector<int> indices(selected);
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  controlsEnabled = false;
  dirty = true;
  for (int index : indices) {
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) continue;
    jobs.push_back(std::make_unique<CFileXferJob>(EntryFileName(entries[index]), kXferRemoteFolder,
                                                  downloadFolder, index));
    SetEntryStatus(index, "Queued");
    StartFrontIfQueued();
  }
  if (!AnyActive() && pendingDeletes.empty()) controlsEnabled = true;
  Notify();
}

void CFileXferEngine::DeleteFiles(const std::vector<int>& selected) {
  std::vector<int> indices(selected);
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  for (int index : indices) {
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) continue;
    SendDelete(EntryFileName(entries[index]), index);
  }
  if (!pendingDeletes.empty()) controlsEnabled = false;
  Notify();
}

void CFileXferEngine::SendDelete(const std::string& name, std::int32_t listIndex) {
  pendingDeletes.push_back({name, listIndex});
  SetEntryStatus(listIndex, "Deleting...");
  SendRequest(BuildXferDeleteRequest(kXferRemoteFolder + name));
}

void CFileXferEngine::Cancel() {
  jobs.clear();
  pendingDeletes.clear();
  controlsEnabled = true;
  Refresh();
}

bool CFileXferEngine::IsBusy() const {
  return AnyActive() || !pendingDeletes.empty();
}

void CFileXferEngine::Tick() {
  ++ticks;
  TickDeletes();
  CFileXferJob* job = Front();
  if (job == nullptr) {
    Notify();
    return;
  }
  --job->countdown;
  if (job->state != job->lastState || job->received != job->lastReceived) {
    job->lastState = job->state;
    job->lastReceived = job->received;
    job->retries = 0;
    job->countdown = CFileXferJob::kCountdownStart;
  } else if (job->countdown < 1) {
    ++job->retries;
    // 100, 200, 500, 1000, 1700, 2600 ticks between expiries.
    job->countdown = job->retries * job->retries * 100 + 100;
    if (job->retries < kMaxRetries) {
      Advance(*job);
      ShowStatus(*job);
    } else {
      job->state = XferState::TimedOut;
      job->CloseLocalFile();
      job->retries = 0;
      ShowStatus(*job);
      UpdateState();
      StartFrontIfQueued();
    }
  }
  Notify();
}

bool CFileXferEngine::OnPacket(const KavoPacket& packet) {
  if (packet.id != kavo::kIdSuperReport || packet.checksumOk != 1 || packet.length > kKavoMaxData)
    return false;
  const std::size_t end = FieldEnd(packet);
  if (end < 4 || packet.data[0] != kavo::kSubSystem || packet.data[1] != kavo::kSystemFileTransfer)
    return false;
  bool accepted = false;
  switch (packet.data[2]) {
    case 0x00:
      accepted = OnEntry(packet, end);
      break;
    case 0x01:
      accepted = OnFileReply(packet, end);
      break;
    case 0x03:
      accepted = OnDeleteReply(packet, end);
      break;
    default:
      break;
  }
  Notify();
  return accepted;
}

std::vector<FileXferProgress> CFileXferEngine::Progress() const {
  std::vector<FileXferProgress> out;
  out.reserve(jobs.size());
  for (const auto& job : jobs)
    out.push_back({job->listIndex, job->name, job->state, job->received, job->size});
  return out;
}

std::vector<int> CFileXferEngine::MatchingEntries(const std::string& pattern) const {
  std::vector<int> out;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (::fnmatch(pattern.c_str(), EntryFileName(entries[i]).c_str(), 0) == 0)
      out.push_back(static_cast<int>(i));
  return out;
}

std::string CFileXferEngine::EntryFileName(const std::string& text) {
  // The status is appended as " [...]"; a "[" inside a name is the name's own.
  return text.substr(0, text.find(" ["));
}

std::string CFileXferEngine::EntryStatus(const std::string& text) {
  const std::size_t open = text.find(" [");
  if (open == std::string::npos || text.back() != ']') return {};
  return text.substr(open + 2, text.size() - open - 3);
}

bool CFileXferEngine::OnEntry(const KavoPacket& packet, std::size_t end) {
  const std::size_t index = packet.data[3];
  if (index == 0) entries.clear();
  if (entries.size() >= kMaxEntries) return false;
  // Data 4 is not used; the text runs from 5 to its NUL.
  entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(std::min(index, entries.size())),
                 TextField(packet, 5, end, kKavoMaxData));
  ++listReplies;
  listActivityTick = ticks;
  dirty = true;
  return true;
}

bool CFileXferEngine::OnFileReply(const KavoPacket& packet, std::size_t end) {
  if (end < 8) return false;
  const std::uint32_t handle = ReadBe32(packet.data + 4);
  CFileXferJob* job = nullptr;
  switch (packet.data[3]) {
    case 0x00: {  // open result, found by its path
      if (end < 12) return false;
      const std::string path = TextField(packet, 12, end, kKavoMaxData);
      for (auto& j : jobs)
        if (j->state >= XferState::Starting && j->IsActive() && j->RemotePath() == path) {
          job = j.get();
          break;
        }
      if (job == nullptr) return false;
      job->CloseLocalFile();
      if (handle == 0) {
        job->state = XferState::FileNotFound;
      } else {
        job->state = XferState::FileOpenFailed;
        job->handle = handle;
        job->size = ReadBe32(packet.data + 8);
        job->received = 0;
        if (job->CreateLocalFile()) {
          job->state = XferState::Downloading;
        } else {
          // Let the receiver free the handle; the job ends here.
          SendRequest(BuildXferCloseRequest(handle));
        }
      }
      Advance(*job);
      break;
    }
    case 0x01: {  // one block
      if (end < 13) return false;
      const std::uint32_t offset = ReadBe32(packet.data + 8);
      const std::uint8_t count = packet.data[12];
      if (13u + count > end) return false;
      job = FindByHandle(handle, XferState::Downloading, XferState::Closing);
      if (job == nullptr || !job->HasLocalFile() || offset != job->received ||
          static_cast<std::uint64_t>(offset) + count > job->size)
        return false;
      if (job->WriteLocal(packet.data + 13, count)) {
        job->received += count;
        if (job->received == job->size) job->state = XferState::Closing;
      } else {
        // The local copy is broken: close on both sides; the closed reply ends it truncated.
        job->CloseLocalFile();
        job->state = XferState::Closing;
      }
      Advance(*job);
      break;
    }
    case 0x02:  // closed
      job = FindByHandle(handle, XferState::Downloading, XferState::Closing);
      if (job == nullptr) return false;
      job->state =
          job->received == job->size && job->HasLocalFile() ? XferState::Done : XferState::FileTruncated;
      job->CloseLocalFile();
      break;
    case 0x03:  // the receiver could not serve the last request: send it again
      job = FindByHandle(handle, XferState::Starting, XferState::Closing);
      if (job == nullptr) return false;
      Advance(*job);
      break;
    default:
      return false;
  }
  ShowStatus(*job);
  UpdateState();
  return true;
}

namespace {

std::string CaseFolded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

bool CFileXferEngine::OnDeleteReply(const KavoPacket& packet, std::size_t end) {
  const bool deleted = packet.data[3] != 0;
  // The receiver's card has no case, and its reply may spell the path its own way ("a:\GPSDATA\..."):
  // the pending name that is the path's last part wins, else the longest name inside it.
  const std::string path = CaseFolded(TextField(packet, 4, end, kKavoMaxData));
  const std::size_t cut = path.find_last_of("\\/:");
  const std::string last = cut == std::string::npos ? path : path.substr(cut + 1);
  auto best = pendingDeletes.end();
  for (auto it = pendingDeletes.begin(); it != pendingDeletes.end(); ++it) {
    const std::string name = CaseFolded(it->name);
    if (name.empty()) continue;
    if (name == last) {
      best = it;
      break;
    }
    if (path.find(name) != std::string::npos &&
        (best == pendingDeletes.end() || name.size() > best->name.size()))
      best = it;
  }
  if (best == pendingDeletes.end()) return false;
  const std::int32_t index = EntryIndexOf(best->name, best->listIndex);
  pendingDeletes.erase(best);
  SetEntryStatus(index, deleted ? "Deleted" : "Could not delete");
  UpdateState();
  return true;
}

// The entry that shows `name`: the one the delete was sent for while it still shows that name.
std::int32_t CFileXferEngine::EntryIndexOf(const std::string& name, std::int32_t hint) const {
  if (hint >= 0 && static_cast<std::size_t>(hint) < entries.size() && EntryFileName(entries[hint]) == name)
    return hint;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (EntryFileName(entries[i]) == name) return static_cast<std::int32_t>(i);
  return -1;
}

void CFileXferEngine::TickDeletes() {
  bool expired = false;
  for (auto it = pendingDeletes.begin(); it != pendingDeletes.end();) {
    if (--it->ticksLeft > 0) {
      ++it;
      continue;
    }
    SetEntryStatus(EntryIndexOf(it->name, it->listIndex),
                   CFileXferJob::StatusText(XferState::TimedOut, 0, 0));
    it = pendingDeletes.erase(it);
    expired = true;
  }
  if (expired) UpdateState();
}

void CFileXferEngine::Advance(CFileXferJob& job) {
  switch (job.state) {
    case XferState::Queued:
      job.state = XferState::Starting;
      [[fallthrough]];
    case XferState::Starting:
      SendRequest(BuildXferOpenRequest(job.RemotePath()));
      break;
    case XferState::Downloading:
      if (job.received < job.size) {
        const auto count =
            static_cast<std::uint8_t>(std::min<std::uint32_t>(kMaxReadCount, job.size - job.received));
        SendRequest(BuildXferReadRequest(job.handle, job.received, count));
      } else {
        SendRequest(BuildXferCloseRequest(job.handle));
      }
      break;
    case XferState::Closing:
      SendRequest(BuildXferCloseRequest(job.handle));
      break;
    default:
      break;
  }
}

void CFileXferEngine::UpdateState() {
  dirty = true;
  if (deleteWhenDone) {
    for (auto it = jobs.begin(); it != jobs.end();) {
      if ((*it)->state != XferState::Done) {
        ++it;
        continue;
      }
      SendDelete((*it)->name, (*it)->listIndex);
      it = jobs.erase(it);
    }
  }
  if (!AnyActive()) {
    for (const auto& job : jobs) ShowStatus(*job);
    jobs.clear();
    if (pendingDeletes.empty()) controlsEnabled = true;
  }
}

void CFileXferEngine::StartFrontIfQueued() {
  CFileXferJob* front = Front();
  if (front != nullptr && front->state == XferState::Queued) {
    Advance(*front);
    ShowStatus(*front);
  }
}

CFileXferJob* CFileXferEngine::Front() {
  for (auto& job : jobs)
    if (job->IsActive()) return job.get();
  return nullptr;
}

CFileXferJob* CFileXferEngine::FindByHandle(std::uint32_t handle, XferState from, XferState to) {
  for (auto& job : jobs)
    if (job->handle == handle && job->state >= from && job->state <= to) return job.get();
  return nullptr;
}

bool CFileXferEngine::AnyActive() const {
  return std::any_of(jobs.begin(), jobs.end(), [](const auto& job) { return job->IsActive(); });
}

void CFileXferEngine::ShowStatus(const CFileXferJob& job) {
  SetEntryStatus(job.listIndex, job.StatusText());
}

void CFileXferEngine::SetEntryStatus(std::int32_t index, const std::string& status) {
  if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) return;
  std::string& text = entries[index];
  const std::size_t cut = text.find(" [");
  if (cut != std::string::npos) text.resize(cut);
  text += " [";
  text += status;
  text += ']';
  dirty = true;
}

void CFileXferEngine::SendRequest(const KavoPacket& request) {
  if (isConnected && isConnected() && send) send(request);
}

void CFileXferEngine::Notify() {
  if (!dirty) return;
  dirty = false;
  if (changed) changed();
}
