#pragma once

#include <string>
#include <vector>

#include "logger/log_options.h"

// The command line of plowview-replay.
struct ReplayOptions {
  std::string logDir;         // --log-dir: where the text logs go (created when missing)
  std::string prefix = "A_";  // --prefix: the logging prefix, as "m_LoggingPrefix"
  LogOptions options = 0;     // --options: the "m_logOptions" word; the passive bit is always added
  bool archive = false;       // --archive: run the archiving chain on each closed hour
  bool dat = false;           // --dat: write the DAT file (and its base CMR file) beside each log
  std::string configPath;  // --config: the settings file with the archive settings (default: the program's)
  std::vector<std::string> inputs;  // the raw packet logs, replayed in this order as one session
  bool help = false;
};

// Parses the arguments after the program name. False with `error` set on a bad command line.
bool ParseReplayOptions(const std::vector<std::string>& args, ReplayOptions& options, std::string& error);

// The text of --help.
const char* ReplayUsage();
