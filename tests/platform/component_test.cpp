#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/com/co_create.h"
#include "platform/com/com_ptr.h"
#include "platform/com/component_registry.h"

namespace {

constexpr CLSID kWidget{0x5EC0F1E5, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
constexpr CLSID kOther{0x5EC0F1E5, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x02}};

// Every test gets a registry of its own through XDG_CONFIG_HOME.
class ComponentRegistry : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::path(testing::TempDir()) /
        ("registry-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    ::unsetenv("VISTARO_COMPONENT_REGISTRY");
  }
  std::filesystem::path dir_;
};

TEST_F(ComponentRegistry, ServerProgIdAndFilterEntriesRoundTrip) {
  EXPECT_EQ(com_registry::RegistryFile(), dir_ / "Aviquent" / "components.ini");
  EXPECT_FALSE(com_registry::FindServer(kWidget));
  ASSERT_EQ(com_registry::RegisterServer({kWidget, "Widget", "/opt/w/libwidget.so", "Both"}), S_OK);
  ASSERT_EQ(com_registry::RegisterProgId("Widget.Application", kWidget), S_OK);
  FilterPinEntry in{"Input", false, false, false, false, GUID_NULL, "", {{kWidget, kOther}}};
  FilterPinEntry out = in;
  out.name = "Output";
  out.output = true;
  ASSERT_EQ(com_registry::RegisterFilter({kWidget, "Widget Filter", 0x00400000, {in, out}}), S_OK);

  const auto server = com_registry::FindServer(kWidget);
  ASSERT_TRUE(server);
  EXPECT_EQ(server->library, "/opt/w/libwidget.so");
  EXPECT_EQ(server->description, "Widget");
  EXPECT_EQ(server->threadingModel, "Both");
  EXPECT_EQ(com_registry::FindProgId("Widget.Application"), kWidget);
  const auto filter = com_registry::FindFilter(kWidget);
  ASSERT_TRUE(filter);
  EXPECT_EQ(filter->friendlyName, "Widget Filter");
  EXPECT_EQ(filter->merit, 0x00400000u);
  ASSERT_EQ(filter->pins.size(), 2u);
  EXPECT_EQ(filter->pins[1].name, "Output");
  EXPECT_TRUE(filter->pins[1].output);
  EXPECT_FALSE(filter->pins[0].output);
  ASSERT_EQ(filter->pins[0].mediaTypes.size(), 1u);
  EXPECT_EQ(filter->pins[0].mediaTypes[0].second, kOther);

  // Registering again replaces, never duplicates.
  ASSERT_EQ(com_registry::RegisterServer({kWidget, "Widget", "/opt/w2/libwidget.so", "Both"}),
            S_OK);
  std::ifstream file(com_registry::RegistryFile());
  std::string text((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(text.find("/opt/w/libwidget.so"), std::string::npos);
  EXPECT_NE(text.find("[CLSID {5EC0F1E5-0001-4000-8000-000000000001}]"), std::string::npos);

  EXPECT_EQ(com_registry::UnregisterServer(kWidget), S_OK);
  EXPECT_EQ(com_registry::UnregisterFilter(kWidget), S_OK);
  EXPECT_FALSE(com_registry::FindServer(kWidget));
  EXPECT_FALSE(com_registry::FindFilter(kWidget));
  EXPECT_EQ(com_registry::FindProgId("Widget.Application"), kWidget);

  // Values that would break the file's lines are refused.
  EXPECT_EQ(com_registry::RegisterServer({kWidget, "two\nlines", "/x.so", "Both"}), E_INVALIDARG);
  EXPECT_EQ(com_registry::RegisterServer({kWidget, "relative", "x.so", "Both"}), E_INVALIDARG);
}

TEST_F(ComponentRegistry, ConcurrentRegistrationsKeepEveryEntry) {
  constexpr int kProcesses = 8;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (int i = 0; i < 20; ++i) {
        CLSID c = kWidget;
        c.Data2 = static_cast<std::uint16_t>(p);
        c.Data3 = static_cast<std::uint16_t>(i);
        if (com_registry::RegisterServer({c, "w", "/lib" + std::to_string(p) + ".so", "Both"}) !=
            S_OK)
          ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < kProcesses; ++p)
    for (int i = 0; i < 20; ++i) {
      CLSID c = kWidget;
      c.Data2 = static_cast<std::uint16_t>(p);
      c.Data3 = static_cast<std::uint16_t>(i);
      ASSERT_TRUE(com_registry::FindServer(c)) << p << "/" << i;
    }
}

TEST_F(ComponentRegistry, UnwritableRegistryFailsCleanly) {
  ::setenv("XDG_CONFIG_HOME", "/proc/no-such-place", 1);
  EXPECT_EQ(com_registry::RegisterServer({kWidget, "Widget", "/x.so", "Both"}), E_FAIL);
  EXPECT_FALSE(com_registry::FindServer(kWidget));
}

// Something other than a small regular file at the registry's place is
// refused at once, named, and left as it is: a pipe would hang both
// programs and a device fill memory.
TEST_F(ComponentRegistry, OnlyASmallRegularFileIsRead) {
  const auto file = com_registry::RegistryFile();
  std::filesystem::create_directories(file.parent_path());
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  EXPECT_EQ(com_registry::RegisterServer({kWidget, "Widget", "/x.so", "Both"}), E_FAIL);
  EXPECT_FALSE(com_registry::FindServer(kWidget));
  EXPECT_EQ(com_registry::ReadProblem(), file.string() + ": is not a regular file; refused");
  EXPECT_EQ(com_registry::WriteProblem(), com_registry::ReadProblem());

  const auto zero = dir_ / "zero.ini";
  std::filesystem::create_symlink("/dev/zero", zero);
  ::setenv("VISTARO_COMPONENT_REGISTRY", zero.c_str(), 1);
  EXPECT_FALSE(com_registry::FindServer(kWidget));
  EXPECT_NE(com_registry::ReadProblem().find("zero.ini: is not a regular file"), std::string::npos);

  const auto big = dir_ / "big.ini";
  {
    std::ofstream out(big);
    out << "[CLSID {5EC0F1E5-0001-4000-8000-000000000001}]\nInprocServer32=/x.so\n";
  }
  std::filesystem::resize_file(big, (1 << 20) + 1);
  ::setenv("VISTARO_COMPONENT_REGISTRY", big.c_str(), 1);
  EXPECT_FALSE(com_registry::FindServer(kWidget));
  EXPECT_EQ(com_registry::RegisterServer({kOther, "Other", "/y.so", "Both"}), E_FAIL);
  EXPECT_EQ(com_registry::ReadProblem(), big.string() + ": is larger than 1 MiB; refused");
  EXPECT_EQ(std::filesystem::file_size(big), (1u << 20) + 1);
}

TEST_F(ComponentRegistry, CreationByClassAndProgId) {
  IUnknown* raw = nullptr;
  EXPECT_EQ(CoCreateInstance(kWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&raw)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(raw, nullptr);

  ASSERT_EQ(com_registry::RegisterServer({kWidget, "Widget", TEST_SERVER_PATH, "Both"}), S_OK);
  ASSERT_EQ(com_registry::RegisterProgId("Widget.Application", kWidget), S_OK);
  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID(u"Widget.Application", &found), S_OK);
  EXPECT_EQ(found, kWidget);
  EXPECT_EQ(CLSIDFromProgID(u"Excel.Application", &found), CO_E_CLASSSTRING);

  ComPtr<IUnknown> widget;
  ASSERT_EQ(CoCreateInstance(found, nullptr, 0x17, IID_IUnknown, widget.PutVoid()), S_OK);
  ASSERT_TRUE(widget);
  // Out-of-process contexts do not exist here.
  ComPtr<IUnknown> remote;
  EXPECT_EQ(CoCreateInstance(found, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, remote.PutVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(kOther, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, remote.PutVoid()),
            REGDB_E_CLASSNOTREG);

  // The library stays while an object lives, and goes when none is left.
  auto loaded = [] {
    void* h = ::dlopen(TEST_SERVER_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (h) ::dlclose(h);
    return h != nullptr;
  };
  CoFreeUnusedLibraries();
  EXPECT_TRUE(loaded());
  widget.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(loaded());

  // Straight from a library file, without the registry.
  ASSERT_EQ(com_registry::UnregisterServer(kWidget), S_OK);
  EXPECT_EQ(CoCreateInstanceFromLibrary(TEST_SERVER_PATH, kWidget, nullptr, IID_IUnknown,
                                        widget.PutVoid()),
            S_OK);
  EXPECT_TRUE(widget);
  EXPECT_EQ(CoCreateInstanceFromLibrary(TEST_SERVER_PATH, kOther, nullptr, IID_IUnknown,
                                        remote.PutVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
  widget.Reset();

  // A registered library that does not exist fails without a crash.
  ASSERT_EQ(com_registry::RegisterServer({kOther, "Gone", "/nonexistent/libgone.so", "Both"}),
            S_OK);
  EXPECT_EQ(CoCreateInstance(kOther, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, remote.PutVoid()),
            E_FAIL);
  EXPECT_NE(CoLastLoadError().find("/nonexistent/libgone.so"), std::string::npos)
      << CoLastLoadError();
}

}  // namespace
