#pragma once

#include <functional>

#include "link/protocol/prompts.h"
#include "logger/logrowan.h"

// What the program's loggers are given beside their host, clock and prompts.
struct LoggerPartsConfig {
  // The "m_WriteDatFile" setting, asked at every session start; empty: no DAT file.
  std::function<bool()> writeDatFile;
  // Where the DAT writer's progress lines go (MakeDatTrace); empty: nowhere.
  std::function<void(const char* text)> datTrace;
};

// Gives a logger its configuration report, raw packet log, raw measurement writer and DAT file
// part, the parts a logger of the running program has (tools that replay old logs leave some
// out). The raw measurement writer and the DAT part send through the logger, so a passive session
// sends nothing. `prompts` must outlive the logger.
void InstallLoggerParts(CLogrowan& logger, IPrompts& prompts, const LoggerPartsConfig& config);
