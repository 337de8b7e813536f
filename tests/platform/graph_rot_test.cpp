#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/com/running_object_table.h"
#include "platform/com/utf.h"
#include "platform/file/user_folder.h"
#include "tests/platform/graph_media.h"

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::u16string DisplayNameFor(const void* object) {
  char name[64];
  std::snprintf(name, sizeof name, "FilterGraph %08x pid %08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(object)),
                static_cast<unsigned>(::getpid()));
  return Utf8ToUtf16(name);
}

TEST(RunningObjectTable, PublishedGraphShowsItsPipelineUntilRevoked) {
  auto graph = NewGraph();
  const std::u16string item = DisplayNameFor(graph.Get());
  ComPtr<IRunningObjectTable> table;
  ASSERT_EQ(GetRunningObjectTable(0, table.Put()), S_OK);
  ComPtr<IMoniker> name;
  ASSERT_EQ(CreateItemMoniker(u"!", item.c_str(), name.Put()), S_OK);
  ComBstr display;
  ASSERT_EQ(name->GetDisplayName(nullptr, nullptr, display.Put()), S_OK);
  EXPECT_EQ(display.View(), u"!" + item);

  DWORD cookie = 0;
  ASSERT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph.Get(), name.Get(), &cookie),
            S_OK);
  EXPECT_NE(cookie, 0u);
  const auto folder = PrivateTempFolder();
  ASSERT_TRUE(folder);
  const auto dot = *folder / (Utf16ToUtf8(item) + ".dot");
  ASSERT_TRUE(std::filesystem::exists(dot));
  EXPECT_NE(ReadAll(dot).find("digraph"), std::string::npos);

  // Changes show up in the file.
  auto level = ElementFilter("volume");
  graph->AddFilter(level.Get(), u"Telemetry Decode");
  EXPECT_NE(ReadAll(dot).find("Telemetry Decode"), std::string::npos);

  // The entry keeps the graph alive and finds it by name.
  IGraphBuilder* raw = graph.Get();
  graph.Reset();
  EXPECT_EQ(table->IsRunning(name.Get()), S_OK);
  ComPtr<IGraphBuilder> found;
  ASSERT_EQ(name->BindToObject(nullptr, nullptr, IID_IGraphBuilder, found.PutVoid()), S_OK);
  EXPECT_EQ(found.Get(), raw);
  found.Reset();

  EXPECT_EQ(table->Revoke(cookie), S_OK);
  EXPECT_FALSE(std::filesystem::exists(dot));
  EXPECT_EQ(table->Revoke(cookie), E_INVALIDARG);
  EXPECT_EQ(table->IsRunning(name.Get()), S_FALSE);
  EXPECT_EQ(name->BindToObject(nullptr, nullptr, IID_IUnknown, found.PutVoid()), MK_E_NOOBJECT);
}

TEST(RunningObjectTable, EqualNamesAreBothEnteredAndRefusesBadArguments) {
  auto first = NewGraph();
  auto second = NewGraph();
  ComPtr<IRunningObjectTable> table;
  ASSERT_EQ(GetRunningObjectTable(0, table.Put()), S_OK);
  ComPtr<IMoniker> name;
  ASSERT_EQ(CreateItemMoniker(u"!", u"Shared name", name.Put()), S_OK);
  DWORD a = 0, b = 0;
  EXPECT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, first.Get(), name.Get(), &a), S_OK);
  EXPECT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, second.Get(), name.Get(), &b),
            MK_S_MONIKERALREADYREGISTERED);
  EXPECT_NE(a, b);
  DWORD c = 0;
  EXPECT_EQ(table->Register(0x100, first.Get(), name.Get(), &c), E_INVALIDARG);
  EXPECT_EQ(table->Register(0, nullptr, name.Get(), &c), E_INVALIDARG);
  EXPECT_EQ(table->Revoke(a), S_OK);
  EXPECT_EQ(table->IsRunning(name.Get()), S_OK);
  EXPECT_EQ(table->Revoke(b), S_OK);
  EXPECT_EQ(table->IsRunning(name.Get()), S_FALSE);
}

}  // namespace
