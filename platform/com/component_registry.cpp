#include "platform/com/component_registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "platform/file/atomic_file.h"

namespace com_registry {
namespace {

// An INI file kept in order: sections of key=value lines.
struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;

  const std::string* Get(std::string_view key) const {
    for (const auto& [k, v] : values)
      if (k == key) return &v;
    return nullptr;
  }
  void Set(std::string key, std::string value) {
    values.emplace_back(std::move(key), std::move(value));
  }
};
using Document = std::vector<Section>;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

Document Parse(std::string_view text) {
  Document doc;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      doc.push_back({std::string(line.substr(1, line.size() - 2)), {}});
    } else if (const auto eq = line.find('='); eq != std::string_view::npos && !doc.empty()) {
      doc.back().Set(std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1))));
    }
  }
  return doc;
}

std::string Serialize(const Document& doc) {
  std::string out = "; Per-user component registry of Aviquent programs.\n";
  for (const Section& s : doc) {
    out += "\n[" + s.name + "]\n";
    for (const auto& [k, v] : s.values) out += k + "=" + v + "\n";
  }
  return out;
}

// Far beyond any registry of a few components; a bigger one is not ours.
constexpr std::size_t kMaxRegistryBytes = 1 << 20;

std::string Describe(const std::filesystem::path& file, std::string_view reason) {
  return file.string() + ": " + std::string(reason);
}

// The registry's text, empty when it does not exist yet; nullopt (with the
// file and the reason in problem) when it must not be read. A FIFO or a
// device planted at its path would otherwise hang both programs or grow
// memory without bound.
std::optional<std::string> ReadRegistry(const std::filesystem::path& file, std::string* problem) {
  int fd;
  do {
    fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENOENT) return std::string();
    *problem = Describe(file, std::strerror(errno));
    return std::nullopt;
  }
  const std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { ::close(*f); });
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    *problem = Describe(file, std::strerror(errno));
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    *problem = Describe(file, "is not a regular file; refused");
    return std::nullopt;
  }
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxRegistryBytes) {
    *problem = Describe(file, "is larger than 1 MiB; refused");
    return std::nullopt;
  }
  // The size may change while we read, so the limit holds for what is read.
  std::string text;
  char chunk[16384];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *problem = Describe(file, std::strerror(errno));
      return std::nullopt;
    }
    if (got == 0) return text;
    text.append(chunk, static_cast<std::size_t>(got));
    if (text.size() > kMaxRegistryBytes) {
      *problem = Describe(file, "is larger than 1 MiB; refused");
      return std::nullopt;
    }
  }
}

// Nothing is found in a registry that cannot be read.
Document Load() {
  std::string problem;
  const auto text = ReadRegistry(RegistryFile(), &problem);
  return text ? Parse(*text) : Document{};
}

bool Printable(std::string_view s) {
  for (char c : s)
    if (c == '\n' || c == '\r' || c == '\0') return false;
  return true;
}

// Holds an exclusive lock on the registry's lock file for one update, so
// that concurrent registrations apply one after the other.
class UpdateLock {
 public:
  explicit UpdateLock(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    fd_ = ::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~UpdateLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  UpdateLock(const UpdateLock&) = delete;
  UpdateLock& operator=(const UpdateLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// A registry that cannot be read is left as it is: writing would lose
// every registration in it.
HRESULT Update(const std::function<void(Document&)>& change) {
  const auto file = RegistryFile();
  UpdateLock lock(file);
  if (!lock.Held()) return E_FAIL;
  std::string problem;
  const auto text = ReadRegistry(file, &problem);
  if (!text) return E_FAIL;
  Document doc = Parse(*text);
  change(doc);
  return ReplaceFileContents(file, Serialize(doc)) ? S_OK : E_FAIL;
}

void Remove(Document& doc, const std::string& name) {
  std::erase_if(doc, [&](const Section& s) { return s.name == name; });
}

const Section* Find(const Document& doc, const std::string& name) {
  for (const Section& s : doc)
    if (s.name == name) return &s;
  return nullptr;
}

std::string ServerSection(const CLSID& clsid) { return "CLSID " + GuidToString(clsid); }
std::string ProgIdSection(std::string_view progId) { return "ProgID " + std::string(progId); }
std::string FilterSection(const CLSID& clsid) { return "Filter " + GuidToString(clsid); }

std::string PinKey(std::size_t pin, std::string_view field) {
  return "Pin" + std::to_string(pin) + (field.empty() ? "" : ".") + std::string(field);
}

bool Flag(const Section& s, const std::string& key) {
  const std::string* v = s.Get(key);
  return v && *v == "1";
}

}  // namespace

std::filesystem::path RegistryFile() {
  if (const char* custom = std::getenv("VISTARO_COMPONENT_REGISTRY"); custom && *custom)
    return custom;
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/') {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* pw = ::getpwuid(::getuid());
      home = pw ? pw->pw_dir : "/tmp";
    }
    config = std::filesystem::path(home) / ".config";
  }
  return config / "Aviquent" / "components.ini";
}

std::string ReadProblem() {
  std::string problem;
  ReadRegistry(RegistryFile(), &problem);
  return problem;
}

std::string WriteProblem() {
  if (std::string problem = ReadProblem(); !problem.empty()) return problem;
  std::error_code code;
  const std::filesystem::path file = FollowLinks(RegistryFile(), code);
  const std::filesystem::path folder = file.parent_path();
  std::filesystem::create_directories(folder, code);
  if (code) return Describe(folder, code.message());
  if (::access(folder.c_str(), W_OK) != 0) return Describe(folder, std::strerror(errno));
  const std::string lock = RegistryFile().string() + ".lock";
  const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return Describe(lock, std::strerror(errno));
  ::close(fd);
  return {};
}

HRESULT RegisterServer(const InprocServerEntry& e) {
  const std::string library = e.library.string();
  if (!Printable(e.description) || !Printable(library) || !Printable(e.threadingModel) ||
      !e.library.is_absolute())
    return E_INVALIDARG;
  return Update([&](Document& doc) {
    Remove(doc, ServerSection(e.clsid));
    Section s{ServerSection(e.clsid), {}};
    s.Set("Description", e.description);
    s.Set("InprocServer32", library);
    s.Set("ThreadingModel", e.threadingModel);
    doc.push_back(std::move(s));
  });
}

HRESULT UnregisterServer(const CLSID& clsid) {
  return Update([&](Document& doc) { Remove(doc, ServerSection(clsid)); });
}

HRESULT RegisterProgId(std::string_view progId, const CLSID& clsid) {
  if (progId.empty() || !Printable(progId) || progId.find(']') != std::string_view::npos)
    return E_INVALIDARG;
  return Update([&](Document& doc) {
    Remove(doc, ProgIdSection(progId));
    Section s{ProgIdSection(progId), {}};
    s.Set("CLSID", GuidToString(clsid));
    doc.push_back(std::move(s));
  });
}

HRESULT UnregisterProgId(std::string_view progId) {
  return Update([&](Document& doc) { Remove(doc, ProgIdSection(progId)); });
}

HRESULT RegisterFilter(const FilterEntry& e) {
  if (!Printable(e.friendlyName)) return E_INVALIDARG;
  for (const auto& pin : e.pins)
    if (!Printable(pin.name) || !Printable(pin.connectsToPin)) return E_INVALIDARG;
  return Update([&](Document& doc) {
    Remove(doc, FilterSection(e.clsid));
    Section s{FilterSection(e.clsid), {}};
    s.Set("FriendlyName", e.friendlyName);
    char merit[16];
    std::snprintf(merit, sizeof merit, "0x%08X", static_cast<unsigned>(e.merit));
    s.Set("Merit", merit);
    s.Set("Pins", std::to_string(e.pins.size()));
    for (std::size_t i = 0; i < e.pins.size(); ++i) {
      const FilterPinEntry& p = e.pins[i];
      s.Set(PinKey(i, ""), p.name);
      s.Set(PinKey(i, "Direction"), p.output ? "Output" : "Input");
      s.Set(PinKey(i, "Rendered"), p.rendered ? "1" : "0");
      s.Set(PinKey(i, "Zero"), p.zero ? "1" : "0");
      s.Set(PinKey(i, "Many"), p.many ? "1" : "0");
      s.Set(PinKey(i, "ConnectsToFilter"), GuidToString(p.connectsToFilter));
      s.Set(PinKey(i, "ConnectsToPin"), p.connectsToPin);
      for (std::size_t t = 0; t < p.mediaTypes.size(); ++t)
        s.Set(PinKey(i, "MediaType" + std::to_string(t)),
              GuidToString(p.mediaTypes[t].first) + " " + GuidToString(p.mediaTypes[t].second));
    }
    doc.push_back(std::move(s));
  });
}

HRESULT UnregisterFilter(const CLSID& clsid) {
  return Update([&](Document& doc) { Remove(doc, FilterSection(clsid)); });
}

std::optional<InprocServerEntry> FindServer(const CLSID& clsid) {
  const Document doc = Load();
  const Section* s = Find(doc, ServerSection(clsid));
  if (!s) return std::nullopt;
  const std::string* library = s->Get("InprocServer32");
  if (!library || library->empty()) return std::nullopt;
  InprocServerEntry e{clsid, {}, *library, {}};
  if (const std::string* d = s->Get("Description")) e.description = *d;
  if (const std::string* t = s->Get("ThreadingModel")) e.threadingModel = *t;
  return e;
}

std::optional<CLSID> FindProgId(std::string_view progId) {
  const Document doc = Load();
  const Section* s = Find(doc, ProgIdSection(progId));
  if (!s) return std::nullopt;
  const std::string* clsid = s->Get("CLSID");
  return clsid ? GuidFromString(*clsid) : std::nullopt;
}

std::optional<FilterEntry> FindFilter(const CLSID& clsid) {
  const Document doc = Load();
  const Section* s = Find(doc, FilterSection(clsid));
  if (!s) return std::nullopt;
  FilterEntry e{clsid, {}, 0, {}};
  if (const std::string* n = s->Get("FriendlyName")) e.friendlyName = *n;
  if (const std::string* m = s->Get("Merit"))
    e.merit = static_cast<std::uint32_t>(std::strtoul(m->c_str(), nullptr, 0));
  const std::string* count = s->Get("Pins");
  const std::size_t pins = count ? std::strtoul(count->c_str(), nullptr, 10) : 0;
  for (std::size_t i = 0; i < pins && i < 64; ++i) {
    FilterPinEntry p;
    if (const std::string* n = s->Get(PinKey(i, ""))) p.name = *n;
    const std::string* dir = s->Get(PinKey(i, "Direction"));
    p.output = dir && *dir == "Output";
    p.rendered = Flag(*s, PinKey(i, "Rendered"));
    p.zero = Flag(*s, PinKey(i, "Zero"));
    p.many = Flag(*s, PinKey(i, "Many"));
    if (const std::string* f = s->Get(PinKey(i, "ConnectsToFilter")))
      p.connectsToFilter = GuidFromString(*f).value_or(GUID_NULL);
    if (const std::string* c = s->Get(PinKey(i, "ConnectsToPin"))) p.connectsToPin = *c;
    for (std::size_t t = 0;; ++t) {
      const std::string* mt = s->Get(PinKey(i, "MediaType" + std::to_string(t)));
      if (!mt) break;
      const auto space = mt->find(' ');
      const auto major = GuidFromString(mt->substr(0, space));
      const auto sub =
          space == std::string::npos ? std::nullopt : GuidFromString(mt->substr(space + 1));
      if (major && sub) p.mediaTypes.emplace_back(*major, *sub);
    }
    e.pins.push_back(std::move(p));
  }
  return e;
}

}  // namespace com_registry
