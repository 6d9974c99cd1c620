#pragma once

#include <QString>
#include <cstdlib>
#include <string>

// Where the programs under test are: $PLOWVIEW_BIN when ctest sets it, else the build's bin/.
inline QString Program(const char* name) {
  const char* bin = std::getenv("PLOWVIEW_BIN");
  return QString::fromStdString(std::string(bin && *bin ? bin : PLOWVIEW_BINARY_DIR "/bin") + "/" + name);
}
