#pragma once

#include <functional>
#include <memory>

#include "link/protocol/prompts.h"
#include "logger/dat_log_part.h"
#include "logger/logrowan.h"

// Gives a logger its configuration report, raw packet log and raw measurement writer, the parts
// a logger of the running program has (tools that replay old logs leave them out). The raw
// measurement writer sends through the logger, so a passive session sends nothing.
// The DAT file part is asked the program's "m_WriteDatFile" setting at every session start.
// `prompts` must outlive the logger.
void InstallLoggerParts(CLogrowan& logger, IPrompts& prompts);

// A DAT file part for `logger` (to be handed to its SetDatLog): requests go through the logger's
// sending (none in a passive session), CMR notes through its line writer, traces to DatTrace.
std::unique_ptr<CDatLogPart> MakeDatLogPart(CLogrowan& logger, IPrompts& prompts,
                                            std::function<bool()> wanted);
