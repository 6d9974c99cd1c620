#pragma once

#include <string>
#include <vector>

// Runs one external program of the archiving chain and waits for it to exit.
//
// argv[0] names the program: a name without '/' is taken from the running program's folder when
// an executable of that name is there (so plowplot and plowmail are found beside plowview), else
// from PATH. Every argument reaches the program as its own string, unquoted. `standardInput`, when
// not empty, is the whole of the program's standard input (at most kMaxArchiveInput bytes; it is
// how secrets reach a program without showing in the process list); otherwise standard input is
// /dev/null. Standard output goes to /dev/null, so tools' chatter never mixes with the program's
// own output; standard error is shared. The child runs in a process group of its own, so a Ctrl+C
// meant for the program does not cut an upload short, with default signal handling and an empty
// signal mask.
//
// `environment` entries ("NAME=value") are set for the child on top of the program's own.
//
// Returns the exit code (0-255), 128 + the signal number when the program was killed, or
// kArchiveProgramNotRun when it could not be started. Blocks the calling thread only; callable
// from several threads at once.
inline constexpr int kArchiveProgramNotRun = -1;
inline constexpr std::size_t kMaxArchiveInput = 16384;

int RunArchiveProgram(const std::vector<std::string>& argv, const std::string& standardInput = {},
                      const std::vector<std::string>& environment = {});

// The path RunArchiveProgram would start for `name` from the program's folder, or `name` itself.
std::string ResolveArchiveProgram(const std::string& name);
