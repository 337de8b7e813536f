// Every message the graph shows, by injecting the failure behind it, and
// what the graph does next.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/com/guid.h"
#include "tests/viewer/shell/media_graph_fixtures.h"

namespace {

using ::testing::ElementsAre;

constexpr HRESULT kOutOfMemory = E_OUTOFMEMORY;  // 0x8007000e

class Failures : public ::testing::Test {
 protected:
  FailureScript& Script() { return services.Script(); }
  HRESULT OpenShortFile() { return graph.OpenMediaFile(Wide(media::ShortWav().path)); }
  int Calls(const char* operation) { return Script().CountOf(operation); }
  static std::string DecoderCreation() { return "Create(" + GuidToString(CLSID_Quorvex) + ")"; }

  RecordingArea area;
  RecordingMessages messages;
  ScriptedServices services;
  MediaGraph graph{&area, messages, services};
};

TEST_F(Failures, MessagesAreOwnedByTheVideoAreaWithTheirCaptionAndCutAt1023) {
  const std::string longText(2000, 'x');
  graph.ShowGraphMessage((longText + " hr=0x%x").c_str(), E_FAIL);
  graph.ShowGraphMessage("hr=0x%x", MakeHresult(0x0004022Du));
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text, std::string(1023, 'x'));
  EXPECT_TRUE(messages.shown[0].owned);
  EXPECT_EQ(messages.shown[0].caption, "PlayCap Message");
  // Lower-case, no leading zeros.
  EXPECT_EQ(messages.shown[1].text, "hr=0x4022d");
}

TEST_F(Failures, RegistrationRefusedFailsThePreparation) {
  Script().Fail("IRunningObjectTable::Register", kOutOfMemory);
  EXPECT_EQ(OpenShortFile(), kOutOfMemory);
  EXPECT_THAT(messages.Texts(),
              ElementsAre("Failed to register filter graph with ROT!  hr=0x8007000e",
                          "Failed to get video interfaces!  hr=0x8007000e"));
  EXPECT_EQ(graph.RotRegistration(), 0u);
  EXPECT_FALSE(graph.GraphReady());
  EXPECT_EQ(Calls("IGraphBuilder::RenderFile"), 0);
}

TEST_F(Failures, NoRunningObjectTableIsReportedAsEFail) {
  Script().Fail("GetRunningObjectTable", kOutOfMemory);
  EXPECT_EQ(OpenShortFile(), E_FAIL);
  EXPECT_THAT(messages.Texts(),
              ElementsAre("Failed to register filter graph with ROT!  hr=0x80004005",
                          "Failed to get video interfaces!  hr=0x80004005"));
}

TEST_F(Failures, NoMonikerFailsWithItsCode) {
  Script().Fail("CreateItemMoniker", kOutOfMemory);
  EXPECT_EQ(OpenShortFile(), kOutOfMemory);
  EXPECT_EQ(messages.Texts().front(), "Failed to register filter graph with ROT!  hr=0x8007000e");
}

TEST_F(Failures, NoGraphStopsThePreparationAndTheNextAttemptSucceeds) {
  Script().Fail("Create(FilterGraph)", REGDB_E_CLASSNOTREG, 0, 1);
  EXPECT_EQ(OpenShortFile(), REGDB_E_CLASSNOTREG);
  EXPECT_THAT(messages.Texts(), ElementsAre("Failed to get video interfaces!  hr=0x80040154"));
  EXPECT_FALSE(graph.GraphReady());
  EXPECT_FALSE(graph.DecoderFilter());
  EXPECT_EQ(Calls("IMediaControl::Run"), 0);

  messages.shown.clear();
  EXPECT_EQ(OpenShortFile(), S_OK);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(graph.GraphReady());
}

// What a half-done attempt made is dropped; the next one builds anew.
TEST_F(Failures, PartlyObtainedInterfacesAreStartedOverNextTime) {
  Script().Fail("QueryInterface(IMediaEventEx)", E_NOINTERFACE, 0, 1);
  EXPECT_EQ(OpenShortFile(), E_NOINTERFACE);
  EXPECT_THAT(messages.Texts(), ElementsAre("Failed to get video interfaces!  hr=0x80004002"));
  EXPECT_FALSE(graph.GraphReady());

  EXPECT_EQ(OpenShortFile(), S_OK);
  EXPECT_EQ(Calls("Create(FilterGraph)"), 2);
  EXPECT_EQ(Calls("Create(CaptureGraphBuilder2)"), 2);
  EXPECT_EQ(Calls("IRunningObjectTable::Register"), 1);
  EXPECT_TRUE(WaitForCompletion(graph, 30));
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, media::ShortWav().frames);
}

TEST_F(Failures, UnboundCaptureBuilderStopsThePreparationAndIsNotPublishedTwice) {
  Script().Fail("ICaptureGraphBuilder2::SetFiltergraph", E_UNEXPECTED, 0, 1);
  EXPECT_EQ(OpenShortFile(), E_UNEXPECTED);
  EXPECT_THAT(messages.Texts(), ElementsAre("Failed to set capture filter graph!  hr=0x8000ffff"));
  EXPECT_FALSE(graph.GraphReady());
  EXPECT_NE(graph.RotRegistration(), 0u);

  EXPECT_EQ(OpenShortFile(), S_OK);
  EXPECT_EQ(Calls("IRunningObjectTable::Register"), 2);
  EXPECT_EQ(Calls("IRunningObjectTable::Revoke"), 1);
}

// Without a decoder the file still plays, and nothing is re-routed.
TEST_F(Failures, MissingDecoderIsReportedTwiceAndTheFilePlays) {
  Script().Fail(DecoderCreation(), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(OpenShortFile(), S_OK);
  EXPECT_THAT(
      messages.Texts(),
      ElementsAre("Couldn't find the Quorvex filter!  hr=0x80040154",
                  "Failed to add the telemetry decoder to the filter graph  hr=0x80004003"));
  EXPECT_FALSE(graph.DecoderFilter());
  EXPECT_EQ(Calls("IGraphBuilder::Disconnect"), 0);
  EXPECT_EQ(Calls("IMediaControl::Run"), 1);
  EXPECT_TRUE(WaitForCompletion(graph, 30));
}

TEST_F(Failures, DecoderRefusedByTheGraphIsReportedAndPlaybackGoesOn) {
  Script().Fail("IGraphBuilder::AddFilter", kOutOfMemory, 0, 1);
  EXPECT_EQ(OpenShortFile(), S_OK);
  EXPECT_THAT(
      messages.Texts(),
      ElementsAre("Failed to add the telemetry decoder to the filter graph  hr=0x8007000e"));
  EXPECT_EQ(Calls("IMediaControl::Run"), 1);
}

// The render message is shown, yet the rest can still succeed.
TEST_F(Failures, FailedRenderingIsReportedAndTheGraphStillRuns) {
  Script().Fail("IGraphBuilder::RenderFile", VFW_E_UNKNOWN_FILE_TYPE);
  EXPECT_EQ(OpenShortFile(), S_OK);
  ASSERT_EQ(messages.Texts().size(), 1u);
  EXPECT_EQ(messages.Texts()[0].rfind("Failed to render file! hr=0x80040240\n", 0), 0u);
  EXPECT_EQ(Calls("IMediaControl::Run"), 1);
}

TEST_F(Failures, MissingFileIsReportedByRendering) {
  EXPECT_EQ(graph.OpenMediaFile(Wide(media::Folder() / "missing.mkv")), S_OK);
  EXPECT_THAT(messages.Texts(), ElementsAre("Failed to render file! hr=0x80070002\n" +
                                            (media::Folder() / "missing.mkv").string()));
}

// An unreadable name skips that filter only; rendering already put the
// decoder on the audio stream, so telemetry still comes.
TEST_F(Failures, UnreadableFilterNameSkipsThatFilter) {
  Script().Fail("IBaseFilter::QueryFilterInfo", E_FAIL, 0, 1);
  EXPECT_EQ(OpenShortFile(), S_OK);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Could not get the filter info");
  EXPECT_EQ(messages.shown[0].caption, "Error");
  EXPECT_FALSE(messages.shown[0].owned);
  EXPECT_TRUE(WaitForCompletion(graph, 30));
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, media::ShortWav().frames);
}

TEST_F(Failures, VideoWindowRefusedStopsPlaybackBeforeRunning) {
  for (const char* operation : {"IVideoWindow::put_Owner", "IVideoWindow::put_WindowStyle"}) {
    SCOPED_TRACE(operation);
    messages.shown.clear();
    Script().Fail(operation, E_FAIL);
    EXPECT_EQ(graph.OpenMediaFile(Wide(media::Asf().path)), E_FAIL);
    EXPECT_THAT(messages.Texts(), ElementsAre("Couldn't initialize video window!  hr=0x80004005"));
    EXPECT_EQ(Calls("IMediaControl::Run"), 0);
    Script().Pass(operation);
  }
}

TEST_F(Failures, GraphThatWillNotRunIsReported) {
  Script().Fail("IMediaControl::Run", E_FAIL);
  EXPECT_EQ(OpenShortFile(), E_FAIL);
  EXPECT_THAT(messages.Texts(), ElementsAre("Couldn't run the graph!  hr=0x80004005"));
}

// A filter that cannot be removed must not hold the walk forever.
TEST_F(Failures, EmptyingSucceedsEvenWhenAFilterStays) {
  ASSERT_EQ(OpenShortFile(), S_OK);
  Script().Fail("IGraphBuilder::RemoveFilter", E_FAIL);
  EXPECT_EQ(graph.EmptyGraph(), S_OK);
  Script().Pass("IGraphBuilder::RemoveFilter");
  EXPECT_EQ(graph.EmptyGraph(), S_OK);
  Script().Fail("IGraphBuilder::EnumFilters", kOutOfMemory);
  EXPECT_EQ(graph.EmptyGraph(), kOutOfMemory);
}

TEST_F(Failures, NoSystemEnumeratorFailsTheCapture) {
  Script().Fail("Create(SystemDeviceEnum)", REGDB_E_CLASSNOTREG);
  EXPECT_EQ(graph.StartLiveCapture(), REGDB_E_CLASSNOTREG);
  EXPECT_THAT(messages.Texts(), ElementsAre("Couldn't create system enumerator!  hr=0x80040154"));
  EXPECT_EQ(Calls("IMediaControl::Run"), 0);
}

TEST_F(Failures, NoClassEnumeratorFailsTheCapture) {
  Script().Fail("ICreateDevEnum::CreateClassEnumerator", kOutOfMemory);
  EXPECT_EQ(graph.StartLiveCapture(), kOutOfMemory);
  EXPECT_THAT(messages.Texts(),
              ElementsAre("Audio Capture: Couldn't create class enumerator!  hr=0x8007000e"));
}

// The rows below need a real device behind the script.
class DeviceFailures : public Failures {
 protected:
  void SetUp() override { REQUIRE_SOUND_SERVER(); }
};

TEST_F(DeviceFailures, EmptyDeviceListFailsTheCapture) {
  Script().Fail("IEnumMoniker::Next", S_FALSE);
  EXPECT_EQ(graph.StartLiveCapture(), E_FAIL);
  EXPECT_THAT(messages.Texts(), ElementsAre(kNoInputText));
}

TEST_F(DeviceFailures, UnboundDeviceFailsTheCapture) {
  Script().Fail("IMoniker::BindToObject", E_FAIL);
  EXPECT_EQ(graph.StartLiveCapture(), E_FAIL);
  EXPECT_THAT(messages.Texts(),
              ElementsAre("Audio Capture: Couldn't bind moniker to filter object!  hr=0x80004005"));
  EXPECT_FALSE(graph.AudioCapture());
}

TEST_F(DeviceFailures, CaptureRefusedByTheGraphFailsTheCaptureAndTheNextOneWorks) {
  Script().Fail("IGraphBuilder::AddFilter", E_FAIL, 1, 1);
  EXPECT_EQ(graph.StartLiveCapture(), E_FAIL);
  EXPECT_THAT(messages.Texts(),
              ElementsAre("Couldn't add the audio capture filter to the graph!  hr=0x80004005\r\n"
                          "\r\nIf you have a working audio capture device, please make sure\r\n"
                          "that it is connected and is not being used by another "
                          "application.\r\n\r\nThe sample will now close."));
  EXPECT_FALSE(graph.AudioCapture());
  EXPECT_EQ(Calls("IMediaControl::Run"), 0);

  messages.shown.clear();
  EXPECT_TRUE(SUCCEEDED(graph.StartLiveCapture()));
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(graph.AudioCapture());
}

// Without the renderer the capture goes on, up to the missing pin.
TEST_F(DeviceFailures, MissingRendererIsReportedAndTheCaptureStopsSilentlyAtItsPin) {
  Script().Fail("Create(DSoundRender)", REGDB_E_CLASSNOTREG);
  EXPECT_TRUE(FAILED(graph.StartLiveCapture()));
  EXPECT_THAT(messages.Texts(),
              ElementsAre("Couldn't find the Default Direct Sound Device  hr=0x80040154"));
  EXPECT_TRUE(graph.AudioCapture());
  EXPECT_EQ(Calls("IGraphBuilder::ConnectDirect"), 0);
  EXPECT_EQ(Calls("IMediaControl::Run"), 0);
}

TEST_F(DeviceFailures, RendererRefusedByTheGraphIsReportedAndTheCaptureGoesOn) {
  Script().Fail("IGraphBuilder::AddFilter", E_FAIL, 2, 1);
  EXPECT_TRUE(FAILED(graph.StartLiveCapture()));
  EXPECT_THAT(messages.Texts(), ElementsAre("Failed to add the Default Direct Sound Device to the "
                                            "filter graph  hr=0x80004005"));
  EXPECT_GE(Calls("IGraphBuilder::ConnectDirect"), 1);
}

TEST_F(DeviceFailures, RefusedDirectConnectionFailsSilently) {
  Script().Fail("IGraphBuilder::ConnectDirect", VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_EQ(graph.StartLiveCapture(), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(Calls("IMediaControl::Run"), 0);
}

TEST_F(DeviceFailures, MissingPinFailsSilently) {
  Script().Fail("IBaseFilter::EnumPins", E_FAIL);
  EXPECT_EQ(graph.StartLiveCapture(), E_FAIL);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DeviceFailures, LiveGraphThatWillNotRunIsReported) {
  Script().Fail("IMediaControl::Run", kOutOfMemory);
  EXPECT_EQ(graph.StartLiveCapture(), kOutOfMemory);
  EXPECT_THAT(messages.Texts(), ElementsAre("Audio: Couldn't run the graph!  hr=0x8007000e"));
}

}  // namespace
