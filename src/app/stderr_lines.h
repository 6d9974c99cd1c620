#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

// The program's messages on stderr, which is what the journal shows for a logging station: one
// line per message, "NAME: TEXT", NAME being the station's name or "plowview". A message of
// several lines becomes one (its line breaks and tabs turn into blanks), and every other control
// byte, escape sequences from a receiver's text included, becomes '?', so nothing reaches a
// terminal or the journal as a code.

// "NAME: TEXT\n" as it is written.
std::string FormatStderrLine(std::string_view name, std::string_view text);

// The station's name of a settings file: its name without ".ini" ("north" for
// /etc/plowview/north.ini); empty for the program's own file, "Plowview.ini".
std::string StationNameOf(const std::filesystem::path& settingsFile);

// The NAME of this process's lines: set once at start (an empty name keeps "plowview").
void SetStderrLineName(const std::string& name);
std::string StderrLineName();

// Writes one line in a single write, so lines from several threads never interleave.
void WriteStderrLine(std::string_view text, std::FILE* out = stderr);

// Qt's own messages (warnings of its classes, enabled debug categories) go out as such lines too.
void RouteQtMessagesToStderrLines();
