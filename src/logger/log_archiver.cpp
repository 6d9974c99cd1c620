#include "logger/log_archiver.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "logger/archive_chain.h"
#include "logger/archive_mailer.h"
#include "logger/archive_settings.h"
#include "logger/archive_tools.h"

int ArchivePreviousFile(const ClosedLogFile& /*closed*/) {
  return 1;
}

void StartArchiveWorker(const ArchiveFunction& archive, ClosedLogFile closed) {
  if (!archive) return;
  try {
    std::thread([archive, closed = std::move(closed)] { archive(closed); }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the hour's files stay where they are, and logging goes on.
  }
}

// Shared by the archiver and every worker, so workers can outlive the archiver. `closing` cuts the
// workers off from profile and prompts; both pointers are used only while it is false.
struct CLogArchiver::State {
  mutable std::mutex lock;
  std::condition_variable idle;
  int running = 0;
  bool closing = false;
  IArchiveProfile* profile = nullptr;
  IPrompts* prompts = nullptr;

  // Counts a worker in and takes its copies of the settings; false once the program is closing.
  bool Enter(CArchiveSettings& settings, ArchiveTools& tools) {
    std::lock_guard<std::mutex> hold(lock);
    if (closing) return false;
    ++running;
    settings.Load(*profile);
    tools = LoadArchiveTools(*profile);
    return true;
  }
  void Leave() {
    std::lock_guard<std::mutex> hold(lock);
    --running;
    idle.notify_all();
  }
  // The prompts are called without the lock: the box may wait for the user for a long time.
  void Show(const std::string& text) {
    IPrompts* target = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock);
      if (closing) return;
      target = prompts;
    }
    target->MessageBox(text, "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
  }
  void Close() {
    std::lock_guard<std::mutex> hold(lock);
    closing = true;
  }
};

CLogArchiver::CLogArchiver(IArchiveProfile& profile, IPrompts& prompts) : state(std::make_shared<State>()) {
  state->profile = &profile;
  state->prompts = &prompts;
}

bool CLogArchiver::WriteDatFile() const {
  std::lock_guard<std::mutex> hold(state->lock);
  if (state->closing) return false;
  CArchiveSettings settings;
  settings.Load(*state->profile);
  return settings.writeDatFile != 0;
}

CLogArchiver::~CLogArchiver() {
  state->Close();
}

ArchiveFunction CLogArchiver::Function() const {
  return [state = state](const ClosedLogFile& closed) {
    CArchiveSettings settings;
    ArchiveTools tools;
    if (!state->Enter(settings, tools)) return 1;
    CArchiveChain chain(std::move(settings), std::move(tools), closed,
                        [state](const std::string& text) { state->Show(text); });
    chain.Run();
    state->Leave();
    return 1;
  };
}

void CLogArchiver::MailFatalError(const std::string& prefix, const std::string& text) {
  CArchiveSettings settings;
  ArchiveTools tools;
  if (!state->Enter(settings, tools)) return;
  const std::string subject = "PLV: Receiver Fatal Error-> " + prefix + ":" + settings.ftpRemotePath;
  try {
    std::thread([state = state, mailer = CArchiveMailer(settings, tools), subject, text] {
      mailer.SendStatusMail(subject, text);
      state->Leave();
    }).detach();
  } catch (const std::system_error&) {
    state->Leave();
  }
}

int CLogArchiver::WaitForArchiveWorkers(std::chrono::milliseconds timeout,
                                        const std::function<void(int running)>& notice) {
  std::unique_lock<std::mutex> hold(state->lock);
  state->closing = true;
  if (state->running > 0) {
    const int running = state->running;
    hold.unlock();
    if (notice) {
      notice(running);
    } else {
      std::fprintf(stderr, "plowview: waiting up to %lld s for %d archiving job(s) to finish\n",
                   static_cast<long long>((timeout.count() + 999) / 1000), running);
    }
    hold.lock();
  }
  state->idle.wait_for(hold, timeout, [&] { return state->running == 0; });
  return state->running;
}

int CLogArchiver::RunningWorkers() const {
  std::lock_guard<std::mutex> hold(state->lock);
  return state->running;
}
