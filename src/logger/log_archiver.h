#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "logger/log_options.h"

// What the archiving of one closed hour needs, copied when the file closes so that the worker
// never reads the logger (which may be gone, or on its next hour, by then).
struct ClosedLogFile {
  std::string logPath;  // full path of the closed ".log" file
  std::string zipName;  // archive base name: prefix, hour code, ".zip"
  std::string prefix;   // the logging prefix of the session
  LogOptions options = 0;
};

// Runs on the archiving worker thread: zips, uploads and cleans up the hour's files.
// Returns 1. The archiving chain is still to come; for now it leaves the files as they are.
int ArchivePreviousFile(const ClosedLogFile& closed);

using ArchiveFunction = std::function<int(const ClosedLogFile&)>;

// Starts one detached worker thread that runs `archive` on its own copy of `closed`. Workers are
// not joined: an upload may take minutes and must not hold up the next hour or a disconnect.
// When no thread can be started the files are left unarchived.
void StartArchiveWorker(const ArchiveFunction& archive, ClosedLogFile closed);
