#include "logger/dat_log_part.h"

#include <atomic>
#include <cstdio>

#include "logger/dat_trace.h"

namespace {
std::atomic<bool> verboseTrace{false};
}  // namespace

void SetDatTraceVerbose(bool on) {
  verboseTrace.store(on);
}

void DatTrace(const char* text) {
  // The program has no debug output channel of its own on this platform: stderr stands in for it
  // when asked for.
  if (text == nullptr || !verboseTrace.load()) return;
  std::fprintf(stderr, "%s\n", text);
}

CDatLogPart::CDatLogPart(WantedFn wantedFn, CDATWriter::SendFn send, CDATWriter::TraceFn trace,
                         const IClock& clock, IPrompts& prompts, CDATWriter::LineFn writeLine)
    : wanted(std::move(wantedFn)),
      writer(std::move(send), std::move(trace), clock, prompts, std::move(writeLine)) {}
