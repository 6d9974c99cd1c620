#pragma once

#include "link/protocol/prompts.h"
#include "logger/logrowan.h"

// Gives a logger its configuration report, raw packet log and raw measurement writer, the parts
// a logger of the running program has (tools that replay old logs leave them out). The raw
// measurement writer sends through the logger, so a passive session sends nothing.
// `prompts` must outlive the logger.
void InstallLoggerParts(CLogrowan& logger, IPrompts& prompts);
