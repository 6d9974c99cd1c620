#include "app/dat_trace.h"

#include <QLoggingCategory>
#include <cstdio>

namespace {
// The program's debug output for the writer's progress, as a debugger's output window shows it
// only to whoever looks.
Q_LOGGING_CATEGORY(datTraceCategory, "plowview.dat", QtInfoMsg)
}  // namespace

std::function<void(const char* text)> MakeDatTrace(bool verbose) {
  if (verbose) {
    return [](const char* text) {
      if (text != nullptr) std::fprintf(stderr, "%s\n", text);
    };
  }
  return [](const char* text) {
    if (text != nullptr) qCDebug(datTraceCategory).noquote() << text;
  };
}
