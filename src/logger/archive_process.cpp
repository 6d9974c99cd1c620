#include "logger/archive_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>

extern char** environ;

namespace {

// Closes a descriptor at the end of a scope.
class CFdCloser {
 public:
  explicit CFdCloser(int fd = -1) : fd(fd) {}
  ~CFdCloser() { Reset(); }
  CFdCloser(const CFdCloser&) = delete;
  CFdCloser& operator=(const CFdCloser&) = delete;
  void Reset(int next = -1) {
    if (fd >= 0) ::close(fd);
    fd = next;
  }
  int Get() const { return fd; }

 private:
  int fd;
};

// Fills a pipe with the whole input before the child starts. The input fits the pipe's buffer
// (at least 64 KiB on Linux), so the write never blocks and never meets a closed reader.
bool FillPipe(const std::string& input, CFdCloser& readEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd.Reset(fds[0]);
  CFdCloser writeEnd(fds[1]);
  std::size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = ::write(writeEnd.Get(), input.data() + done, input.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return kArchiveProgramNotRun;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kArchiveProgramNotRun;
}

// The program's environment with `extra` ("NAME=value" each) put in place of variables of the
// same name. The strings live in `storage`.
std::vector<char*> MergedEnvironment(const std::vector<std::string>& extra,
                                     std::vector<std::string>& storage) {
  storage.clear();
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('=') + 1);
    bool replaced = false;
    for (const std::string& e : extra) replaced = replaced || e.compare(0, name.size(), name) == 0;
    if (!replaced) storage.emplace_back(text);
  }
  storage.insert(storage.end(), extra.begin(), extra.end());
  std::vector<char*> pointers;
  pointers.reserve(storage.size() + 1);
  for (std::string& e : storage) pointers.push_back(e.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::string ResolveArchiveProgram(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return name;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return name;
  const std::filesystem::path beside = self.parent_path() / name;
  if (::access(beside.c_str(), X_OK) == 0 && !std::filesystem::is_directory(beside, ec))
    return beside.string();
  return name;
}

int RunArchiveProgram(const std::vector<std::string>& argv, const std::string& standardInput,
                      const std::vector<std::string>& environment) {
  if (argv.empty() || argv[0].empty() || standardInput.size() > kMaxArchiveInput)
    return kArchiveProgramNotRun;
  const std::string program = ResolveArchiveProgram(argv[0]);

  CFdCloser inputEnd;
  if (!standardInput.empty() && !FillPipe(standardInput, inputEnd)) return kArchiveProgramNotRun;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return kArchiveProgramNotRun;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return kArchiveProgramNotRun;
  }
  if (inputEnd.Get() >= 0)
    posix_spawn_file_actions_adddup2(&actions, inputEnd.Get(), STDIN_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);

  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                           POSIX_SPAWN_SETPGROUP));

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args[0] = const_cast<char*>(program.c_str());
  args.push_back(nullptr);

  std::vector<std::string> environmentStorage;
  std::vector<char*> merged;
  if (!environment.empty()) merged = MergedEnvironment(environment, environmentStorage);
  char** envp = environment.empty() ? environ : merged.data();

  pid_t pid = 0;
  const int spawned = program.find('/') != std::string::npos
                          ? posix_spawn(&pid, program.c_str(), &actions, &attributes, args.data(), envp)
                          : posix_spawnp(&pid, program.c_str(), &actions, &attributes, args.data(), envp);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  inputEnd.Reset();
  if (spawned != 0) return kArchiveProgramNotRun;
  return WaitExit(pid);
}
