#pragma once

#include <QString>
#include <cstdlib>

// Where the ...Screenshots tests save their pictures: $PLOWVIEW_SCREENSHOT_DIR (scripts/screenshots
// sets it to docs/screenshots), else screenshots/ in the build folder.
inline QString ScreenshotDir() {
  const char* dir = std::getenv("PLOWVIEW_SCREENSHOT_DIR");
  return dir && *dir ? QString::fromLocal8Bit(dir) : QStringLiteral(PLOWVIEW_BINARY_DIR "/screenshots");
}
