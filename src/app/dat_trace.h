#pragma once

// Where the DAT file writer's progress lines go: stderr once switched on (plowview --headless
// --verbose), else the program's debug output, the Qt logging category "plowview.dat" (debug
// level, off unless QT_LOGGING_RULES switches it on). Process-wide; safe from any thread.
// Kept apart from the writer's headers so that Qt code can include it.
void SetDatTraceVerbose(bool on);
// One progress line (without its newline).
void DatTrace(const char* text);
