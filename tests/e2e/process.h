// Child processes for the end-to-end tests: started with fork and exec (no
// shell), each in its own process group so that a stuck child and anything it
// started can be ended together, and always reaped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace peloria::e2e {

struct Command {
  std::vector<std::string> argv;  // argv[0] is the program's path
  std::vector<std::string> env;   // the child's whole environment, NAME=value
  std::filesystem::path cwd;      // empty: the test's own working folder
  // When the test runs as root: run the child with the uid and gid of
  // "nobody", so that file modes bind it. Ignored otherwise.
  bool asNobody = false;
  // A descriptor handed to the child as descriptor 3 (-1: none).
  int passFd = -1;
  // A descriptor handed to the child as descriptor 4 (-1: none); neither may
  // be 3 or 4 itself.
  int passFd4 = -1;
};

struct Outcome {
  int exitCode = -1;  // -1 when the child did not exit normally
  int signal = 0;     // the signal that ended it, 0 when it exited
  bool timedOut = false;
  std::string out;
  std::string err;
};

// Runs `command` to its end, capturing standard output and error; standard
// input is /dev/null. A child still running after `timeout` is killed with
// its whole process group and `timedOut` is set.
Outcome RunToEnd(const Command& command, std::chrono::milliseconds timeout);

// A child running in the background, its output sent to `logFile` (or
// discarded). Destroying it ends its process group (SIGTERM, then SIGKILL
// after a grace period) and reaps it.
class Process {
 public:
  explicit Process(const Command& command, const std::filesystem::path& logFile = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  // The exit status once the child has ended (reaping it), none while it runs.
  std::optional<int> Poll();
  // Waits up to `timeout` for the child to end by itself.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // Ends the child's process group and reaps it; answers its wait status.
  int Stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

bool RunningAsRoot();

// uid and gid of "nobody".
uid_t NobodyUid();
gid_t NobodyGid();

// An environment for a child: PATH, LANG=C.UTF-8, HOME, XDG_CACHE_HOME and
// XDG_RUNTIME_DIR as given, and the sanitizer options and TLS store
// (SSL_CERT_FILE, SSL_CERT_DIR) of the test's own environment.
std::vector<std::string> ChildEnvironment(const std::filesystem::path& home,
                                          const std::filesystem::path& cacheHome,
                                          const std::filesystem::path& runtimeDir);

}  // namespace peloria::e2e
