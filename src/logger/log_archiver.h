#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/protocol/prompts.h"
#include "logger/archive_profile.h"
#include "logger/log_options.h"

// What the archiving of one closed hour needs, copied when the file closes so that the worker
// never reads the logger (which may be gone, or on its next hour, by then).
struct ClosedLogFile {
  std::string logPath;  // full path of the closed ".log" file
  std::string zipName;  // archive base name: prefix, hour code, ".zip"
  std::string prefix;   // the logging prefix of the session
  LogOptions options = 0;
  bool datFiles = false;  // the session wrote the hour's B.dat and B_base.cmr ("Write DAT file")
};

// The logger's default when no archiver is wired in: leaves the hour's files as they are. Returns 1.
int ArchivePreviousFile(const ClosedLogFile& closed);

using ArchiveFunction = std::function<int(const ClosedLogFile&)>;

// Starts one detached worker thread that runs `archive` on its own copy of `closed`. Workers are
// not joined: an upload may take minutes and must not hold up the next hour or a disconnect.
// When no thread can be started the files are left unarchived.
void StartArchiveWorker(const ArchiveFunction& archive, ClosedLogFile closed);

// The program's archiving: hands the logger the function each archiving worker runs (load the
// archive settings and tools afresh, then the chain of CArchiveChain), sends the main loop's
// fatal-error mail, and lets the program wait for running workers at exit.
//
// Made and called on the user-interface thread; the workers call `prompts` from their own thread
// (IPrompts implementations allow that) for the zip failure message, which holds only that worker.
// `profile` and `prompts` must stay valid until WaitForArchiveWorkers has returned or the archiver
// is destroyed: after either, no worker touches them again (a worker still running finishes its
// programs on its own copies and shows nothing more). Workers may outlive the archiver.
class CLogArchiver {
 public:
  CLogArchiver(IArchiveProfile& profile, IPrompts& prompts);
  ~CLogArchiver();
  CLogArchiver(const CLogArchiver&) = delete;
  CLogArchiver& operator=(const CLogArchiver&) = delete;

  // For CLogrowan (given by the program's logger part): archives one closed file on the calling (worker)
  // thread.
  ArchiveFunction Function() const;

  // Mails "PLV: Receiver Fatal Error-> PREFIX:REMOTEPATH" with the receiver's text as the body, on
  // a worker of its own, so the user-interface thread never waits for the mailer.
  void MailFatalError(const std::string& prefix, const std::string& text);

  // Waits at most `timeout` for the running workers (archiving and fatal-error mail) to end, so an
  // exit does not cut an upload short. When any run, `notice` is told their number first (by
  // default a line on stderr). From then on no new worker starts and none shows a message.
  // Returns the number still running.
  int WaitForArchiveWorkers(std::chrono::milliseconds timeout,
                            const std::function<void(int running)>& notice = {});

  int RunningWorkers() const;

  // The "m_WriteDatFile" setting, read afresh from the settings file; false once closing. Any
  // thread (the loggers ask it at each session start).
  bool WriteDatFile() const;

 private:
  struct State;
  std::shared_ptr<State> state;
};
