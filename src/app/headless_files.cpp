#include "app/headless_files.h"

#include <fnmatch.h>

#include <algorithm>

#include "app/stderr_lines.h"
#include "app/terminal_text.h"

namespace {

constexpr const char* kDone = "Done";
constexpr const char* kDeleted = "Deleted";
constexpr const char* kDeleting = "Deleting...";
}  // namespace

CHeadlessFiles::CHeadlessFiles(HeadlessFileCommand cmd, const std::string& downloadFolder,
                               IsConnectedFn connected, SendFn send, FinishFn finishFn, std::FILE* output)
    : command(std::move(cmd)), isConnected(std::move(connected)), finish(std::move(finishFn)), out(output) {
  engine = std::make_unique<CFileXferEngine>(isConnected, std::move(send));
  engine->SetDownloadFolder(downloadFolder.empty() ? std::string(".") : downloadFolder);
  engine->SetDeleteWhenDone(command.deleteAfter);
  timer.setInterval(CFileXferEngine::kTickMs);
  timer.setTimerType(Qt::PreciseTimer);
  connect(&timer, &QTimer::timeout, this, [this] { Tick(); });
}

CHeadlessFiles::~CHeadlessFiles() = default;

void CHeadlessFiles::Start() {
  if (phase != Phase::Idle || command.mode == HeadlessFileCommand::Mode::None) return;
  phase = Phase::Listing;
  engine->Refresh();
  timer.start();
}

void CHeadlessFiles::OnPacket(const KavoPacket& packet) {
  if (phase != Phase::Listing && phase != Phase::Transferring) return;
  if (!engine->OnPacket(packet)) return;
  if (phase == Phase::Transferring) PrintChanges();
}

void CHeadlessFiles::Tick() {
  switch (phase) {
    case Phase::Listing: {
      engine->Tick();
      const std::uint64_t quiet = engine->TicksSinceListActivity();
      if ((engine->ListReplies() > 0 && quiet >= kQuietTicks) || quiet >= kEmptyListTicks) ListingDone();
      break;
    }
    case Phase::Transferring:
      engine->Tick();
      PrintChanges();
      if (phase != Phase::Transferring) break;
      // A lost delete answer would otherwise keep the run waiting for ever.
      deleteWait = engine->Progress().empty() && engine->PendingDeletes() > 0 ? deleteWait + 1 : 0;
      if (deleteWait >= kDeleteWaitTicks) {
        WriteStderrLine("the receiver did not answer every delete");
        Finish(1);
      }
      break;
    default:
      break;
  }
}

void CHeadlessFiles::ListingDone() {
  const std::vector<std::string>& entries = engine->Entries();
  if (command.mode == HeadlessFileCommand::Mode::List) {
    for (const std::string& entry : entries) std::fprintf(out, "%s\n", PrintableText(entry).c_str());
    std::fflush(out);
    Finish(0);
    return;
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string name = CFileXferEngine::EntryFileName(entries[i]);
    for (const std::string& pattern : command.patterns) {
      if (::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
        selected.push_back(static_cast<int>(i));
        break;
      }
    }
  }
  if (selected.empty()) {
    WriteStderrLine("no file on the receiver matches");
    Finish(1);
    return;
  }
  printed.assign(selected.size(), std::string());
  reachedDone.assign(selected.size(), false);
  phase = Phase::Transferring;
  engine->GetFiles(selected);
  PrintChanges();
}

// Prints every selected entry whose status text differs from the one printed last, and ends the
// run once the engine has nothing left to do.
void CHeadlessFiles::PrintChanges() {
  if (phase != Phase::Transferring) return;
  const std::vector<std::string>& entries = engine->Entries();
  // A running job's progress is newer than its entry, which is only rewritten on state changes.
  std::vector<FileXferProgress> progress = engine->Progress();
  bool any = false;
  for (std::size_t k = 0; k < selected.size(); ++k) {
    const auto index = static_cast<std::size_t>(selected[k]);
    if (index >= entries.size()) continue;
    std::string status = CFileXferEngine::EntryStatus(entries[index]);
    for (const FileXferProgress& job : progress)
      if (job.listIndex == selected[k]) status = CFileXferJob::StatusText(job.state, job.received, job.size);
    if (status.empty() || status == printed[k]) continue;
    const std::string name = PrintableText(CFileXferEngine::EntryFileName(entries[index]));
    // With deleteAfter a finished job is handed to the delete within the reply that finished it,
    // so "Done" is never seen on its own; only a done job is ever deleted here.
    if (command.deleteAfter && !reachedDone[k] && status.rfind(kDeleting, 0) == 0) {
      reachedDone[k] = true;
      std::fprintf(out, "%s: %s\n", name.c_str(), kDone);
    }
    printed[k] = status;
    if (status == kDone) reachedDone[k] = true;
    std::fprintf(out, "%s: %s\n", name.c_str(), status.c_str());
    any = true;
  }
  if (any) std::fflush(out);
  if (engine->IsBusy()) return;
  bool allGood = true;
  for (std::size_t k = 0; k < selected.size(); ++k) {
    const bool good = reachedDone[k] && (!command.deleteAfter || printed[k] == kDeleted);
    allGood = allGood && good;
  }
  Finish(allGood ? 0 : 1);
}

void CHeadlessFiles::Finish(int exitCode) {
  if (phase == Phase::Finished) return;
  phase = Phase::Finished;
  timer.stop();
  if (finish) finish(exitCode);
}
