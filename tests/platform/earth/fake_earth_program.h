#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback_http.h"

extern char** environ;

// A Google Earth program for tests: a shell script that writes down every
// start (its arguments) and then stays open, ends at once with status 0,
// fails, or dies after `dieAfter`. One that stays open leaves when the test
// process does, or on Stop(). RunAlready() starts it as the user would have
// before the viewer.
class FakeEarthProgram {
 public:
  enum class Behaviour { kStayOpen, kEndAtOnce, kFail, kDieAfter };

  FakeEarthProgram(const std::filesystem::path& folder, Behaviour behaviour,
                   const std::string& name = "google-earth-pro",
                   std::chrono::milliseconds dieAfter = std::chrono::milliseconds(300))
      : folder_(folder), program_(folder / name) {
    std::filesystem::create_directories(folder);
    const std::string dying = "sleep " + std::to_string(dieAfter.count() / 1000.0) + "\nexit 1\n";
    const std::string tail = behaviour == Behaviour::kFail        ? "exit 3\n"
                             : behaviour == Behaviour::kEndAtOnce ? "exit 0\n"
                             : behaviour == Behaviour::kDieAfter  ? dying
                                                                  : "";
    std::ofstream script(program_);
    script
        << "#!/bin/sh\n"
           "PATH=/usr/bin:/bin\n"
           "dir='"
        << folder.string()
        << "'\n"
           "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$dir/starts.log\"\n"
           "echo -- >> \"$dir/starts.log\"\n"
        << tail
        << "parent=$PPID\n"
           "while [ ! -e \"$dir/stop\" ] && kill -0 \"$parent\" 2>/dev/null; do sleep 0.05; done\n";
    script.close();
    ::chmod(program_.c_str(), 0755);
  }
  ~FakeEarthProgram() {
    Stop();
    if (running_ > 0) ::waitpid(running_, nullptr, 0);
  }
  FakeEarthProgram(const FakeEarthProgram&) = delete;
  FakeEarthProgram& operator=(const FakeEarthProgram&) = delete;

  const std::filesystem::path& Program() const { return program_; }
  void Stop() { std::ofstream(folder_ / "stop").put('\n'); }

  // Starts the program without arguments, as a Google Earth the user opened.
  void RunAlready() {
    std::string path = program_.string();
    char* argv[] = {path.data(), nullptr};
    ::posix_spawn(&running_, path.c_str(), nullptr, nullptr, argv, environ);
    WaitForStarts(1);
  }

  // The arguments of each start so far.
  std::vector<std::vector<std::string>> Starts() const {
    std::vector<std::vector<std::string>> starts;
    std::ifstream log(folder_ / "starts.log");
    std::vector<std::string> current;
    for (std::string line; std::getline(log, line);) {
      if (line == "--") {
        starts.push_back(std::move(current));
        current.clear();
      } else {
        current.push_back(line);
      }
    }
    return starts;
  }

  // Waits (up to five seconds) for `count` starts to have been written down.
  std::vector<std::vector<std::string>> WaitForStarts(std::size_t count) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    auto starts = Starts();
    while (starts.size() < count && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      starts = Starts();
    }
    return starts;
  }

 private:
  std::filesystem::path folder_;
  std::filesystem::path program_;
  pid_t running_ = -1;
};

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }
  void Set(const std::string& name, const std::string& value) {
    Save(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void Unset(const std::string& name) {
    Save(name);
    ::unsetenv(name.c_str());
  }

 private:
  void Save(const std::string& name) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Only this Google Earth program, whatever the machine has installed.
inline void UseOnlyEarthProgram(ScopedEnvironment& env, const std::filesystem::path& program) {
  env.Set("VISTARO_GOOGLE_EARTH", program.string());
  env.Unset("GOOGLE_EARTH");
}

// No Google Earth program anywhere: an empty PATH folder and no variables.
inline void UseNoEarthProgram(ScopedEnvironment& env, const std::filesystem::path& emptyFolder) {
  std::filesystem::create_directories(emptyFolder);
  env.Set("PATH", emptyFolder.string());
  env.Unset("VISTARO_GOOGLE_EARTH");
  env.Unset("GOOGLE_EARTH");
}

// The body of a GET of `url` (http://127.0.0.1:PORT/PATH), or empty when
// nothing answers there with 200.
inline std::optional<std::string> HttpGet(const std::string& url) {
  const std::string prefix = "http://127.0.0.1:";
  if (url.rfind(prefix, 0) != 0) return std::nullopt;
  const auto slash = url.find('/', prefix.size());
  const int port = std::stoi(url.substr(prefix.size(), slash - prefix.size()));
  const std::string request = "GET " + url.substr(slash) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string reply = LoopbackExchange(static_cast<std::uint16_t>(port), request);
  const auto body = reply.find("\r\n\r\n");
  if (reply.rfind("HTTP/1.1 200 ", 0) != 0 || body == std::string::npos) return std::nullopt;
  return reply.substr(body + 4);
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The href of the session document's link named `name`.
inline std::string LinkOf(const std::string& session, const std::string& name) {
  const auto at = session.find("<name>" + name + "</name>");
  const auto begin = session.find("<href>", at);
  if (at == std::string::npos || begin == std::string::npos) return {};
  return session.substr(begin + 6, session.find("</href>", begin) - begin - 6);
}

// The camera document as Google Earth would load it through the session
// document in `folder`; empty when it cannot be loaded.
inline std::optional<std::string> CameraIn(const std::filesystem::path& folder) {
  return HttpGet(LinkOf(ReadText(folder / "session.kml"), "Camera"));
}

// The elements of the LookAt of a camera document by name; empty when the
// document holds no view.
inline std::map<std::string, std::string> LookAtOf(const std::string& document) {
  std::map<std::string, std::string> values;
  const auto begin = document.find("<LookAt>");
  const auto end = document.find("</LookAt>");
  if (begin == std::string::npos || end == std::string::npos) return values;
  // Elements of the form <name>value</name>, one after another.
  std::string_view body(document);
  body = body.substr(begin + 8, end - begin - 8);
  while (true) {
    const auto open = body.find('<');
    const auto close = body.find('>', open);
    if (open == std::string_view::npos || close == std::string_view::npos) break;
    const std::string name(body.substr(open + 1, close - open - 1));
    const auto endTag = body.find("</" + name + ">", close);
    if (endTag == std::string_view::npos) break;
    values[name] = std::string(body.substr(close + 1, endTag - close - 1));
    body.remove_prefix(endTag + name.size() + 3);
  }
  return values;
}
