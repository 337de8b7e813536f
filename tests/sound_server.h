#pragma once

// The sound server of a test run. scripts/test.sh starts one for the whole
// run and hands its address down in the environment; a test run on its own
// reaches (or starts) the same one through scripts/start-pulseaudio.sh.
// Needs VISTARO_SOURCE_DIR.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace sound_server {

// Sets the environment the script prints; false when no server answers.
inline bool Reach() {
  const std::string script = std::string(VISTARO_SOURCE_DIR) + "/scripts/start-pulseaudio.sh";
  std::FILE* out = ::popen(("bash \"" + script + "\"").c_str(), "r");
  if (!out) return false;
  char line[1024];
  while (std::fgets(line, sizeof line, out)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const auto equals = text.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = text.substr(0, equals);
    if (name == "PULSE_SERVER" || name == "PULSE_CLIENTCONFIG")
      ::setenv(name.c_str(), text.substr(equals + 1).c_str(), 1);
  }
  return ::pclose(out) == 0;
}

// In continuous integration a missing server is a broken machine, not a
// reason to test less.
inline bool Required() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

// True once a recording stream of this process runs on the server, within
// `seconds`: what is played into the line from then on is heard whole.
inline bool WaitUntilRecording(double seconds) {
  const std::string mine = "application.process.id = \"" + std::to_string(::getpid()) + "\"";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    std::FILE* out = ::popen("pactl list source-outputs 2>/dev/null", "r");
    if (!out) return false;
    std::string listing;
    char chunk[4096];
    while (std::size_t n = std::fread(chunk, 1, sizeof chunk, out)) listing.append(chunk, n);
    ::pclose(out);
    // One block per stream, each opening with "Source Output #".
    for (std::size_t at = listing.find("Source Output #"); at != std::string::npos;) {
      const std::size_t next = listing.find("Source Output #", at + 1);
      const std::string block = listing.substr(at, next - at);
      if (block.find(mine) != std::string::npos && block.find("Corked: no") != std::string::npos)
        return true;
      at = next;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// Held while a test plays into the line input and counts what it decodes:
// two such tests at once would hear each other. Across processes, as the
// test runner starts one per test.
class LineLock {
 public:
  LineLock() {
    const std::string path = "/tmp/vistaro-pulse." + std::to_string(::getuid()) + "/line.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~LineLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  LineLock(const LineLock&) = delete;
  LineLock& operator=(const LineLock&) = delete;

 private:
  int fd_ = -1;
};

// A server of the test's own with one output and no input but that
// output's monitor: reachable, and with nothing a live capture may take.
class OutputOnlyServer {
 public:
  explicit OutputOnlyServer(const std::filesystem::path& folder)
      : socket_((folder / "native").string()) {
    std::filesystem::create_directories(folder);
    std::filesystem::remove(socket_);
    std::vector<std::string> args = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--use-pid-file=no",
        "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + socket_,
        "-L",
        "module-null-sink sink_name=speakers"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
  }
  ~OutputOnlyServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  OutputOnlyServer(const OutputOnlyServer&) = delete;
  OutputOnlyServer& operator=(const OutputOnlyServer&) = delete;

  std::string Address() const { return "unix:" + socket_; }
  // True once the server answers, within `seconds`.
  bool WaitUntilAnswering(double seconds) const {
    if (pid_ <= 0) return false;
    const std::string ask = "PULSE_SERVER=" + Address() + " pactl info >/dev/null 2>&1";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      if (std::system(ask.c_str()) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  std::string socket_;
  pid_t pid_ = 0;
};

}  // namespace sound_server

// Skips a test that needs the sound server when there is none, except in
// continuous integration, where it fails.
#define REQUIRE_SOUND_SERVER()                                                    \
  do {                                                                            \
    if (!::sound_server::Reach()) {                                               \
      if (::sound_server::Required()) FAIL() << "the sound server did not start"; \
      GTEST_SKIP() << "no PulseAudio server could be started";                    \
    }                                                                             \
  } while (0)
