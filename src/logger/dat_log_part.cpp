#include "logger/dat_log_part.h"

#include <cstdio>

std::atomic<bool> CDatLogPart::verboseTrace{false};

CDatLogPart::CDatLogPart(WantedFn wantedFn, CDATWriter::SendFn send, CDATWriter::TraceFn trace,
                         const IClock& clock, IPrompts& prompts, CDATWriter::LineFn writeLine)
    : wanted(std::move(wantedFn)),
      writer(std::move(send), std::move(trace), clock, prompts, std::move(writeLine)) {}

void CDatLogPart::DebugTrace(const char* text) {
  if (text == nullptr || !verboseTrace.load()) return;
  std::fprintf(stderr, "%s\n", text);
}
