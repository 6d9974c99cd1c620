// plowview-replay: hourly text logs regenerated from raw packet logs. See --help.

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "replay_options.h"
#include "replay_session.h"

int main(int argc, char** argv) {
  ReplayOptions options;
  std::string error;
  if (!ParseReplayOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "plowview-replay: %s\nTry 'plowview-replay --help'.\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(ReplayUsage(), stdout);
    return 0;
  }
  // Every input is checked before anything is written: a typo must not leave half a replay.
  for (const std::string& input : options.inputs) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(input, ec)) {
      std::fprintf(stderr, "plowview-replay: %s: %s\n", input.c_str(),
                   std::filesystem::exists(input, ec) ? "not a regular file" : "no such file");
      return 2;
    }
    std::FILE* probe = std::fopen(input.c_str(), "rb");
    if (probe == nullptr) {
      std::fprintf(stderr, "plowview-replay: cannot read %s\n", input.c_str());
      return 2;
    }
    std::fclose(probe);
  }
  std::error_code ec;
  std::filesystem::create_directories(options.logDir, ec);
  if (!std::filesystem::is_directory(options.logDir, ec)) {
    std::fprintf(stderr, "plowview-replay: cannot make the log folder %s\n", options.logDir.c_str());
    return 1;
  }

  CReplaySession session(options, stderr);
  for (const std::string& input : options.inputs) {
    if (!session.ReplayFile(input, error)) {
      session.Finish();
      std::fprintf(stderr, "plowview-replay: %s\n", error.c_str());
      return 2;
    }
    if (session.Failed()) break;
  }
  session.Finish();
  for (const std::string& path : session.WrittenFiles()) std::printf("%s\n", path.c_str());
  if (session.DroppedBeforeTime() > 0)
    std::fprintf(stderr, "plowview-replay: %llu packets came before any time packet and were not logged\n",
                 static_cast<unsigned long long>(session.DroppedBeforeTime()));
  if (session.Failed() || session.WriteFailed()) return 1;
  return 0;
}
