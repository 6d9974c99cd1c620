#pragma once

#include <functional>

// Where the DAT file writer's progress lines go: to stderr when `verbose` (plowview --headless
// --verbose), else to the program's debug output, the Qt logging category "plowview.dat" (debug
// level, off unless QT_LOGGING_RULES switches it on). The function is safe from any thread and
// ignores a null text.
std::function<void(const char* text)> MakeDatTrace(bool verbose);
