#pragma once

// Where the DAT file writer's progress lines go: the program's debug output, which on this
// platform is stderr once switched on (plowview --headless --verbose) and nowhere otherwise.
// Process-wide; safe from any thread.
// Kept apart from the writer's headers so that Qt code can include it.
void SetDatTraceVerbose(bool on);
// One progress line (without its newline).
void DatTrace(const char* text);
