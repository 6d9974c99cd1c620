// plowview-replay throughput: a 100 MB raw packet log made from the simulator's own navigation
// output (every report kind, NMEA included, a time packet each simulated second, about four
// hours of receiver time at five epochs a second), replayed by the program as a user runs it.
// Reported: input MB/s and the seconds for the whole file, by the wall clock and by the program's
// own CPU time (user and system). The goal is at least 30 MB/s.
//
// The program is found beside this benchmark (build-dir/bin) or through PLOWVIEW_BIN. With
// BENCH_REPLAY_KEEP set the generated file is left in the temp folder (for profiling).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

// The simulator's packet builder, compiled in: the benchmarks link only the program's libraries.
#include "../tools/plowsim/nav_stream.cpp"
#include "../tools/plowsim/sim_time.cpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kTargetBytes = 100u * 1024u * 1024u;

struct KavoFile {
  fs::path folder;
  fs::path path;
  std::size_t bytes = 0;
  std::size_t packets = 0;
};

void AppendFrame(std::vector<std::uint8_t>& out, const KavoPacket& p, int withChecksum) {
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t n = 0;
  if (BuildFrame(p, frame, n, withChecksum)) out.insert(out.end(), frame, frame + n);
}

const KavoFile& HundredMegabytes() {
  static const KavoFile file = [] {
    KavoFile f;
    f.folder = fs::temp_directory_path() / ("bench_replay_" + std::to_string(::getpid()));
    fs::create_directories(f.folder);
    f.path = f.folder / "A_6010714.kavo";
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kTargetBytes + 65536);
    CNavStream stream;
    std::int64_t utcMs = 1767795600000LL;  // 2026-01-07 14:20:00 UTC
    const auto sink = [&](const KavoPacket& p, int withChecksum) {
      AppendFrame(bytes, p, withChecksum);
      ++f.packets;
    };
    for (int epoch = 0; bytes.size() < kTargetBytes; ++epoch, utcMs += 200) {
      if (epoch % 5 == 0) {
        // The answer to the logger's time request, once a second.
        const GpsTime gps = GpsTimeFromUtcMs(utcMs);
        KavoPacket t;
        t.id = 0x41;
        t.length = 10;
        const float tow = static_cast<float>(gps.timeOfWeek), offset = 18.0f;
        std::uint32_t bits;
        std::memcpy(&bits, &tow, 4);
        for (int i = 0; i < 4; ++i) t.data[i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
        t.data[4] = static_cast<std::uint8_t>(gps.week >> 8);
        t.data[5] = static_cast<std::uint8_t>(gps.week);
        std::memcpy(&bits, &offset, 4);
        for (int i = 0; i < 4; ++i) t.data[6 + i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
        sink(t, 0);
      }
      stream.Epoch(utcMs, true, sink);
    }
    std::FILE* out = std::fopen(f.path.c_str(), "wb");
    if (out != nullptr) {
      f.bytes = std::fwrite(bytes.data(), 1, bytes.size(), out);
      std::fclose(out);
    }
    return f;
  }();
  return file;
}

std::string ReplayProgram() {
  const char* bin = std::getenv("PLOWVIEW_BIN");
  if (bin != nullptr && *bin != '\0') return std::string(bin) + "/plowview-replay";
  return (fs::read_symlink("/proc/self/exe").parent_path() / "plowview-replay").string();
}

// Runs the program to its end; `cpuSeconds` gets its user and system time.
int RunReplay(const std::string& program, const fs::path& logs, const fs::path& input, double& cpuSeconds) {
  std::vector<std::string> args = {program, "--log-dir", logs.string(), "--options", "0x100", input.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) return -1;
  cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_Replay100MB(benchmark::State& state) {
  const KavoFile& file = HundredMegabytes();
  const std::string program = ReplayProgram();
  int run = 0;
  double seconds = 0, cpu = 0;
  for (auto _ : state) {
    const fs::path logs = file.folder / ("logs" + std::to_string(run++));
    const auto start = std::chrono::steady_clock::now();
    double cpuSeconds = 0;
    const int result = RunReplay(program, logs, file.path, cpuSeconds);
    cpu += cpuSeconds;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (result != 0) {
      state.SkipWithError(("plowview-replay failed: " + program).c_str());
      break;
    }
    state.SetIterationTime(took.count());
    seconds += took.count();
    fs::remove_all(logs);
  }
  const double megabytes = static_cast<double>(file.bytes) / (1024.0 * 1024.0);
  state.counters["input_MB"] = megabytes;
  state.counters["packets"] = static_cast<double>(file.packets);
  if (run > 0 && seconds > 0) {
    state.counters["MB/s"] = megabytes * run / seconds;
    state.counters["s_per_file"] = seconds / run;
    // On a shared machine the wall time follows the load; the program's own CPU time does not.
    state.counters["cpu_MB/s"] = megabytes * run / cpu;
    state.counters["cpu_s_per_file"] = cpu / run;
  }
}
BENCHMARK(BM_Replay100MB)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (std::getenv("BENCH_REPLAY_KEEP") != nullptr) {
    std::printf("kept %s\n", HundredMegabytes().path.c_str());
  } else {
    std::error_code ec;
    fs::remove_all(HundredMegabytes().folder, ec);
  }
  return 0;
}
