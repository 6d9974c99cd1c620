#include "break_detector.h"

bool CBreakDetector::OnFlush(bool readFlushed, bool writeFlushed, std::int64_t nowMs) {
  if (readFlushed) readAt = nowMs;
  if (writeFlushed) writeAt = nowMs;
  if (readAt < 0 || writeAt < 0) return false;
  const std::int64_t apart = readAt > writeAt ? readAt - writeAt : writeAt - readAt;
  if (apart > kPairWindowMs) return false;
  readAt = writeAt = -1;
  return true;
}
