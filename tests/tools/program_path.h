#pragma once

#include <QString>
#include <cstdlib>
#include <string>

// Where the programs under test are: $PLOWVIEW_BIN when ctest sets it, else the build's bin/.
inline std::string ProgramPath(const char* name) {
  const char* bin = std::getenv("PLOWVIEW_BIN");
  return std::string(bin && *bin ? bin : PLOWVIEW_BINARY_DIR "/bin") + "/" + name;
}
inline QString Program(const char* name) {
  return QString::fromStdString(ProgramPath(name));
}
