// Every KML document that the viewer, the decoder and the Google Earth
// stand-in write, read by the reference KML 2.2 library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/kml_writer.h"
#include "platform/com/com_ptr.h"
#include "platform/earth/earth_stand_in.h"
#include "tests/common/scratch_folder.h"
#include "tests/platform/earth/fake_earth_program.h"
#include "tests/platform/earth/kml_validation.h"

namespace {

using ::testing::IsEmpty;

TEST(KmlValidity, EveryDocumentWeWriteIsKml22) {
  // The viewer's and the decoder's documents all come from this writer.
  KmlWriter writer;
  writer.SetIconStyle(u"http://127.0.0.1:8123/kml/Zephyr.png?a=1&b=2", 0.4f, -45.0f);
  writer.AddPoint(8.25f, 47.5f, 100.5f, u"climb <1> & \"more\"");
  writer.AddPoint(8.5f, 47.25f, 90.0f, u"");
  writer.AddPoint(8.75f, 47.0f, 120.0f, u"RSSI 80%");
  std::vector<std::pair<std::string, std::string>> documents{
      {"plane position", writer.PositionDocument(u"PlanePos", true)},
      {"plane position above ground", writer.PositionDocument(u"PlanePos", false)},
      {"track above ground, extruded", writer.TrackDocument(u"GroundTrack", true, true)},
      {"track, absolute, extruded", writer.TrackDocument(u"GroundTrack", false, true)},
      {"decoder's track", writer.TrackDocument(u"Aviquent", false, false)},
      {"cleared track", KmlWriter().TrackDocument(u"PlanePosition", true, false)},
      {"network link", writer.NetworkLinkDocument(u"/tmp/planePos.kml", u"Aviquent", 0.2f)},
  };

  ScratchFolder scratch;
  ScopedEnvironment env;
  FakeEarthProgram program(scratch / "bin", FakeEarthProgram::Behaviour::kStayOpen);
  UseOnlyEarthProgram(env, program.Program());
  earth::StandInOptions options;
  options.folder = scratch / "earth";
  options.startupSettle = std::chrono::milliseconds(0);
  options.port = 0;
  ComPtr<IApplicationGE> app;
  ASSERT_EQ(earth::CreateApplicationGEStandIn(options, app.Put()), S_OK);
  documents.emplace_back("empty camera", CameraIn(options.folder).value_or(""));
  ASSERT_EQ(app->OpenKmlFile(ComBstr(std::string_view("/tmp/R&D <1>.kml")).Get(), 1), S_OK);
  ASSERT_EQ(app->SetCameraParams(47.5, 188.0, 510.0, AbsoluteAltitudeGE, 133, 95, -170, 2), S_OK);
  documents.emplace_back("camera", CameraIn(options.folder).value_or(""));
  documents.emplace_back("session", ReadText(options.folder / earth::kSessionDocument));
  documents.emplace_back("file list", ReadText(options.folder / earth::kFileListDocument));

  for (const auto& [name, document] : documents) {
    EXPECT_THAT(KmlProblems(document), IsEmpty()) << name << ":\n" << document;
  }
  // The check itself catches what the library lets pass.
  EXPECT_THAT(KmlProblems("<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Placemark><Point>"
                          "<altitudeMode>relative</altitudeMode><coordinates>1,2,3</coordinates>"
                          "</Point></Placemark></kml>"),
              ::testing::Not(IsEmpty()));
}

}  // namespace
