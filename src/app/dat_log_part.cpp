#include "logger/dat_log_part.h"

#include <QLoggingCategory>
#include <atomic>
#include <cstdio>

#include "logger/dat_trace.h"

namespace {
std::atomic<bool> verboseTrace{false};
// The program's debug output for the writer's progress: off unless switched on with
// QT_LOGGING_RULES="plowview.dat.debug=true" (or a qtlogging.ini), as a debugger's output window
// shows it only to whoever looks.
Q_LOGGING_CATEGORY(datTraceCategory, "plowview.dat", QtInfoMsg)
}  // namespace

void SetDatTraceVerbose(bool on) {
  verboseTrace.store(on);
}

void DatTrace(const char* text) {
  if (text == nullptr) return;
  if (verboseTrace.load()) {
    std::fprintf(stderr, "%s\n", text);
    return;
  }
  qCDebug(datTraceCategory).noquote() << text;
}

CDatLogPart::CDatLogPart(WantedFn wantedFn, CDATWriter::SendFn send, CDATWriter::TraceFn trace,
                         const IClock& clock, IPrompts& prompts, CDATWriter::LineFn writeLine)
    : wanted(std::move(wantedFn)),
      writer(std::move(send), std::move(trace), clock, prompts, std::move(writeLine)) {}
