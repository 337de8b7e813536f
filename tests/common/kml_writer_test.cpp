#include "common/kml_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/com/utf.h"
#include "tests/common/scratch_folder.h"

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// The styleUrl of each point placemark, in order; the flight path's own
// style comes first in the document and is skipped.
std::vector<std::string> PointStyles(const std::string& track) {
  std::vector<std::string> styles;
  const std::string open = "<styleUrl>#";
  std::size_t at = track.find("<name>Flight Path</name>");
  at = track.find(open, at);
  while ((at = track.find(open, at + 1)) != std::string::npos) {
    const std::size_t start = at + open.size();
    styles.push_back(track.substr(start, track.find('<', start) - start));
  }
  return styles;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

TEST(KmlWriterGolden, PositionDocument) {
  KmlWriter writer;
  writer.AddPoint(8.25f, 47.5f, 100.5f, u"ignored here");
  writer.AddPoint(TrackPoint{28500001, -4950000, -50, u""});

  EXPECT_EQ(writer.PositionDocument(u"PlanePos", true),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
            "<Document>\n"
            "<name>PlanePos</name>\n"
            "\n"
            "<Style id=\"PlaneIcon\">\n"
            "\t\t<IconStyle>\n"
            "         <scale>0.400000</scale>\n"
            "         <heading>0.000000</heading>\n"
            "\t\t\t<Icon>\n"
            "        <href>http://maps.google.com/mapfiles/kml/pal4/icon25.png</href>\n"
            "      </Icon>\n"
            "\t\t</IconStyle>\n"
            "</Style>\n"
            "\t<Folder>\n"
            "\t\t<name>PlaneIcon</name>\n"
            "\t\t<open>1</open>\n"
            "\t\t<Placemark>\n"
            "\t\t\t<styleUrl>#PlaneIcon</styleUrl>\n"
            "\t\t\t<Point>\n"
            "\t\t\t    <altitudeMode>absolute</altitudeMode>\n"
            "\t\t\t\t<coordinates>8.250000,47.500000,100.500000</coordinates>\n"
            "\t\t\t</Point>\n"
            "\t\t</Placemark>\n"
            "\t\t<Placemark>\n"
            "\t\t\t<styleUrl>#PlaneIcon</styleUrl>\n"
            "\t\t\t<Point>\n"
            "\t\t\t    <altitudeMode>absolute</altitudeMode>\n"
            "\t\t\t\t<coordinates>-8.250000,47.500002,-0.500000</coordinates>\n"
            "\t\t\t</Point>\n"
            "\t\t</Placemark>\n"
            "\t</Folder>\n"
            "</Document>\n"
            "</kml>\n");

  const std::string relative = writer.PositionDocument(u"PlanePos", false);
  EXPECT_EQ(Count(relative, "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"), 2u);
  EXPECT_EQ(Count(relative, "absolute"), 0u);
}

TEST(KmlWriterGolden, TrackDocument) {
  KmlWriter writer;
  writer.SetIconStyle(u"icon.png", 0.5f, 90.0f);
  writer.AddPoint(8.25f, 47.5f, 0.0f, u"");
  writer.AddPoint(8.5f, 47.25f, 12.5f, u"climb");
  writer.AddPoint(8.75f, 47.0f, 12.5f, u"level");

  EXPECT_EQ(writer.TrackDocument(u"GroundTrack", true, true),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
            "<Document>\n"
            "<name>GroundTrack</name>\n"
            "\n"
            "<Style id=\"RedPushpin\">\n"
            "\t\t<IconStyle>\n"
            "\t\t\t<color>ff0000aa</color>\n"
            "         <scale>0.500000</scale>\n"
            "         <heading>90.000000</heading>\n"
            "\t\t\t<Icon>\n"
            "        <href>icon.png</href>\n"
            "      </Icon>\n"
            "\t\t</IconStyle>\n"
            "\t\t<LineStyle><color>49ffffff</color></LineStyle>\n"
            "</Style>\n"
            "<Style id=\"GreenPushpin\">\n"
            "\t\t<IconStyle>\n"
            "\t\t\t<color>ff00aa00</color>\n"
            "\t\t\t<scale>0.500000</scale>\n"
            "         <heading>90.000000</heading>\n"
            "\t\t\t<Icon>\n"
            "            <href>icon.png</href>\n"
            "         </Icon>\n"
            "\t\t</IconStyle>\n"
            "     <LineStyle><color>49ffffff</color></LineStyle>\n"
            "</Style>\n"
            "\t<Folder>\n"
            "\t\t<name>LastRoute</name>\n"
            "\t\t<open>1</open>\n"
            "\t\t<Placemark>\n"
            "\t\t\t<name>Flight Path</name>\n"
            "\t\t\t<styleUrl>#RedPushpin</styleUrl>\n"
            "\t\t\t<LineString>\n"
            "\t\t\t\t<tessellate>1</tessellate>\n"
            "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"
            "\t\t\t\t    <coordinates>\n"
            "8.250000,47.500000,0.000000 8.500000,47.250000,12.500000 "
            "8.750000,47.000000,12.500000 \n"
            "\t\t\t\t    </coordinates>\n"
            "\t\t\t</LineString>\n"
            "\t\t</Placemark>\n"
            "\t\t<Placemark>\n"
            "\t\t\t<styleUrl>#RedPushpin</styleUrl>\n"
            "\t\t\t<Point>\n"
            "\t\t\t    <extrude>1</extrude>\n"
            "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"
            "\t\t\t\t<coordinates>8.250000,47.500000,0.000000</coordinates>\n"
            "\t\t\t</Point>\n"
            "\t\t</Placemark>\n"
            "\t\t<Placemark>\n"
            "\t\t\t<description>climb</description>\n"
            "\t\t\t<styleUrl>#GreenPushpin</styleUrl>\n"
            "\t\t\t<Point>\n"
            "\t\t\t    <extrude>1</extrude>\n"
            "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"
            "\t\t\t\t<coordinates>8.500000,47.250000,12.500000</coordinates>\n"
            "\t\t\t</Point>\n"
            "\t\t</Placemark>\n"
            "\t\t<Placemark>\n"
            "\t\t\t<description>level</description>\n"
            "\t\t\t<styleUrl>#RedPushpin</styleUrl>\n"
            "\t\t\t<Point>\n"
            "\t\t\t    <extrude>1</extrude>\n"
            "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"
            "\t\t\t\t<coordinates>8.750000,47.000000,12.500000</coordinates>\n"
            "\t\t\t</Point>\n"
            "\t\t</Placemark>\n"
            "\t</Folder>\n"
            "</Document>\n"
            "</kml>\n");
}

TEST(KmlWriterGolden, NetworkLinkDocument) {
  KmlWriter writer;
  writer.AddPoint(1.0f, 2.0f, 3.0f, u"not part of a link");
  EXPECT_EQ(writer.NetworkLinkDocument(u"/tmp/vistaroplayer-1000/planePos.kml", u"Aviquent", 0.2f),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
            "<NetworkLink>\n"
            "\t<name>Aviquent</name>\n"
            "\t<Link>\n"
            "\t\t<href>/tmp/vistaroplayer-1000/planePos.kml</href>\n"
            "\t\t<refreshMode>onInterval</refreshMode>\n"
            "\t\t<refreshInterval>0.200000</refreshInterval>\n"
            "\t</Link>\n"
            "</NetworkLink>\n"
            "</kml>\n");
}

TEST(KmlWriterPoints, StoresTruncatedUnitsAndPrintsThemBack) {
  KmlWriter writer;
  writer.AddPoint(8.25f, 47.5f, 100.5f, u"first");
  writer.AddPoint(0.0f, 0.0f, -0.505f, u"");

  ASSERT_EQ(writer.PointCount(), 2u);
  EXPECT_EQ(writer.PointAt(0).longitude, 4950000);
  EXPECT_EQ(writer.PointAt(0).latitude, 28500000);
  EXPECT_EQ(writer.PointAt(0).altitude, 10050);
  EXPECT_EQ(writer.PointAt(0).description, u"first");
  EXPECT_EQ(writer.PointAt(1).altitude, -50);

  const std::string doc = writer.PositionDocument(u"p", true);
  EXPECT_NE(doc.find("<coordinates>8.250000,47.500000,100.500000</coordinates>"),
            std::string::npos);
  EXPECT_NE(doc.find("<coordinates>0.000000,0.000000,-0.500000</coordinates>"), std::string::npos);
}

TEST(KmlWriterPoints, NonFiniteAndHugeValuesSaturate) {
  KmlWriter writer;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  writer.AddPoint(nan, inf, -inf, u"");
  writer.AddPoint(1e30f, -1e30f, std::numeric_limits<float>::max(), u"");
  writer.AddPoint(-nan, 3579.0f, -3579.0f, u"");

  EXPECT_EQ(writer.PointAt(0).longitude, 0);
  EXPECT_EQ(writer.PointAt(0).latitude, kMax);
  EXPECT_EQ(writer.PointAt(0).altitude, kMin);
  EXPECT_EQ(writer.PointAt(1).longitude, kMax);
  EXPECT_EQ(writer.PointAt(1).latitude, kMin);
  EXPECT_EQ(writer.PointAt(1).altitude, kMax);
  EXPECT_EQ(writer.PointAt(2).longitude, 0);
  EXPECT_EQ(writer.PointAt(2).latitude, 2147400000);
  EXPECT_EQ(writer.PointAt(2).altitude, -357900);

  EXPECT_NE(writer.TrackDocument(u"t", false, false).find("0.000000,3579.000000,-3579.000000 "),
            std::string::npos);
}

TEST(KmlWriterPoints, RawPointsAreKeptExactly) {
  KmlWriter writer;
  writer.AddPoint(TrackPoint{kMin, kMax, -1, u"raw"});
  EXPECT_EQ(writer.PointAt(0).latitude, kMin);
  EXPECT_EQ(writer.PointAt(0).longitude, kMax);
  EXPECT_EQ(writer.PointAt(0).altitude, -1);
  EXPECT_EQ(writer.PointAt(0).description, u"raw");
  EXPECT_NE(writer.PositionDocument(u"p", true)
                .find("<coordinates>3579.139412,-3579.139413,-0.010000</coordinates>"),
            std::string::npos);
}

TEST(KmlWriterPoints, ClearDropsPointsButKeepsTheIconStyle) {
  KmlWriter writer;
  writer.SetIconStyle(u"plane.png", 1.5f, -45.0f);
  writer.AddPoint(1.0f, 2.0f, 3.0f, u"gone");
  writer.Clear();
  EXPECT_EQ(writer.PointCount(), 0u);

  KmlWriter empty;
  empty.SetIconStyle(u"plane.png", 1.5f, -45.0f);
  EXPECT_EQ(writer.TrackDocument(u"t", true, true), empty.TrackDocument(u"t", true, true));
  EXPECT_NE(writer.PositionDocument(u"p", true)
                .find("<scale>1.500000</scale>\n"
                      "         <heading>-45.000000</heading>"),
            std::string::npos);

  writer.AddPoint(4.0f, 5.0f, 6.0f, u"");
  EXPECT_EQ(writer.PointCount(), 1u);
  EXPECT_NE(writer.TrackDocument(u"t", true, true).find("\n4.000000,5.000000,6.000000 \n"),
            std::string::npos);
}

TEST(KmlWriterDocuments, EmptyWriter) {
  const KmlWriter writer;
  const std::string position = writer.PositionDocument(u"PlanePos", true);
  EXPECT_NE(position.find("\t\t<name>PlaneIcon</name>\n"
                          "\t\t<open>1</open>\n"
                          "\t</Folder>\n"),
            std::string::npos);
  EXPECT_EQ(Count(position, "<Placemark>"), 0u);

  const std::string track = writer.TrackDocument(u"PlanePosition", false, false);
  EXPECT_NE(track.find("\t\t\t\t    <coordinates>\n"
                       "\n"
                       "\t\t\t\t    </coordinates>\n"),
            std::string::npos);
  EXPECT_NE(track.find("\t\t</Placemark>\n\t</Folder>\n</Document>\n</kml>\n"), std::string::npos);
  EXPECT_EQ(Count(track, "<Placemark>"), 1u);
  EXPECT_EQ(Count(track, "<Point>"), 0u);
}

TEST(KmlWriterDocuments, ColourMarksOnlyAClimb) {
  KmlWriter writer;
  writer.AddPoint(TrackPoint{0, 0, 1, u""});     // 1 cm above the initial 0: a climb
  writer.AddPoint(TrackPoint{0, 0, 1, u""});     // level
  writer.AddPoint(TrackPoint{0, 0, -500, u""});  // falling
  writer.AddPoint(TrackPoint{0, 0, -499, u""});  // climbing while below zero
  EXPECT_EQ(PointStyles(writer.TrackDocument(u"t", true, false)),
            (std::vector<std::string>{"GreenPushpin", "RedPushpin", "RedPushpin", "GreenPushpin"}));

  KmlWriter below;
  below.AddPoint(0.0f, 0.0f, -1.0f, u"");
  below.AddPoint(0.0f, 0.0f, -0.5f, u"");
  EXPECT_EQ(PointStyles(below.TrackDocument(u"t", true, false)),
            (std::vector<std::string>{"RedPushpin", "GreenPushpin"}));

  // The comparison is on stored centimetres: 10.004 m and 10.009 m are both
  // 1000 cm, so the second point is level although its float is higher.
  KmlWriter level;
  level.AddPoint(0.0f, 0.0f, 10.004f, u"");
  level.AddPoint(0.0f, 0.0f, 10.009f, u"");
  EXPECT_EQ(PointStyles(level.TrackDocument(u"t", true, false)),
            (std::vector<std::string>{"GreenPushpin", "RedPushpin"}));
}

TEST(KmlWriterDocuments, DescriptionLineOnlyWhenThereIsOne) {
  KmlWriter writer;
  writer.AddPoint(0.0f, 0.0f, 1.0f, u"");
  writer.AddPoint(0.0f, 0.0f, 2.0f, u"second");
  const std::string track = writer.TrackDocument(u"t", true, false);
  EXPECT_EQ(Count(track, "<description>"), 1u);
  EXPECT_NE(
      track.find("\t\t<Placemark>\n\t\t\t<styleUrl>#GreenPushpin</styleUrl>\n\t\t\t<Point>\n"),
      std::string::npos);
  EXPECT_NE(track.find("\t\t\t<description>second</description>\n\t\t\t<styleUrl>#GreenPushpin</"
                       "styleUrl>\n\t\t\t<Point>\n"),
            std::string::npos);
  // The position document never carries descriptions.
  EXPECT_EQ(Count(writer.PositionDocument(u"p", true), "description"), 0u);
}

TEST(KmlWriterDocuments, AltitudeAndExtrudeFlags) {
  KmlWriter writer;
  writer.AddPoint(0.0f, 0.0f, 1.0f, u"");
  writer.AddPoint(0.0f, 0.0f, 2.0f, u"");

  const std::string absolute = writer.TrackDocument(u"t", false, false);
  EXPECT_EQ(Count(absolute, "\t\t\t    <altitudeMode>absolute</altitudeMode>\n"), 3u);
  EXPECT_EQ(Count(absolute, "relative"), 0u);
  EXPECT_EQ(Count(absolute, "extrude"), 0u);

  const std::string relative = writer.TrackDocument(u"t", true, false);
  EXPECT_EQ(Count(relative, "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"), 3u);
  EXPECT_EQ(Count(relative, "absolute"), 0u);

  const std::string extruded = writer.TrackDocument(u"t", false, true);
  EXPECT_EQ(Count(extruded,
                  "\t\t\t    <extrude>1</extrude>\n"
                  "\t\t\t    <altitudeMode>absolute</altitudeMode>\n"
                  "\t\t\t\t<coordinates>"),
            2u);
}

TEST(KmlWriterDocuments, TextIsEscapedAndUtf8) {
  KmlWriter writer;
  writer.SetIconStyle(u"http://icons/a.png?x=1&y=<2>", 0.4f, 0.0f);
  writer.AddPoint(0.0f, 0.0f, 1.0f, u"Z\u00fcrich \"A\" & 'B' <1> \U0001F6E9");
  const std::u16string name = u"Tom & Jerry's <\"flight\">";
  const std::string escapedName = "Tom &amp; Jerry&apos;s &lt;&quot;flight&quot;&gt;";

  const std::string track = writer.TrackDocument(name, true, false);
  EXPECT_NE(track.find("<name>" + escapedName + "</name>\n"), std::string::npos);
  EXPECT_EQ(Count(track, "<href>http://icons/a.png?x=1&amp;y=&lt;2&gt;</href>\n"), 2u);
  EXPECT_NE(track.find("<description>Z\xC3\xBCrich &quot;A&quot; &amp; &apos;B&apos; &lt;1&gt; "
                       "\xF0\x9F\x9B\xA9</description>\n"),
            std::string::npos);

  const std::string position = writer.PositionDocument(name, true);
  EXPECT_NE(position.find("<name>" + escapedName + "</name>\n"), std::string::npos);
  EXPECT_NE(position.find("<href>http://icons/a.png?x=1&amp;y=&lt;2&gt;</href>\n"),
            std::string::npos);

  const std::string link =
      writer.NetworkLinkDocument(u"/tmp/R&D <\u00e9>/planePos.kml", name, 5.0f);
  EXPECT_NE(link.find("\t<name>" + escapedName + "</name>\n"), std::string::npos);
  EXPECT_NE(link.find("\t\t<href>/tmp/R&amp;D &lt;\xC3\xA9&gt;/planePos.kml</href>\n"),
            std::string::npos);
  EXPECT_NE(link.find("<refreshInterval>5.000000</refreshInterval>"), std::string::npos);
}

TEST(KmlWriterFiles, EachWriterWritesItsDocument) {
  ScratchFolder folder;
  KmlWriter writer;
  writer.AddPoint(8.25f, 47.5f, 100.5f, u"a");
  const std::u16string base = Utf8ToUtf16(folder.path().string());

  EXPECT_EQ(writer.WritePositionFile(base + u"/planePos.kml", u"PlanePos", true), S_OK);
  EXPECT_EQ(writer.WriteTrackFile(base + u"/planeTrack.kml", u"GroundTrack", true, true), S_OK);
  EXPECT_EQ(writer.WriteNetworkLink(base + u"/net.kml", u"x.kml", u"Aviquent", 0.2f), S_OK);
  EXPECT_EQ(ReadFile(folder / "planePos.kml"), writer.PositionDocument(u"PlanePos", true));
  EXPECT_EQ(ReadFile(folder / "planeTrack.kml"), writer.TrackDocument(u"GroundTrack", true, true));
  EXPECT_EQ(ReadFile(folder / "net.kml"), writer.NetworkLinkDocument(u"x.kml", u"Aviquent", 0.2f));

  // A rewrite with a shorter document leaves nothing of the longer one.
  writer.Clear();
  EXPECT_EQ(writer.WriteTrackFile(base + u"/planeTrack.kml", u"PlanePosition", false, false), S_OK);
  EXPECT_EQ(ReadFile(folder / "planeTrack.kml"),
            writer.TrackDocument(u"PlanePosition", false, false));
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"net.kml", "planePos.kml", "planeTrack.kml"}));
}

TEST(KmlWriterFiles, MissingFolderFailsAndLeavesNoFile) {
  ScratchFolder folder;
  KmlWriter writer;
  writer.AddPoint(1.0f, 2.0f, 3.0f, u"");
  const std::u16string missing = Utf8ToUtf16(folder.path().string()) + u"/missing/planePos.kml";
  EXPECT_EQ(writer.WritePositionFile(missing, u"p", true), HresultFromErrno(ENOENT));
  EXPECT_EQ(writer.WriteTrackFile(missing, u"t", true, true), HresultFromErrno(ENOENT));
  EXPECT_EQ(writer.WriteNetworkLink(missing, u"h", u"n", 1.0f), HresultFromErrno(ENOENT));
  EXPECT_TRUE(folder.Names().empty());
}

}  // namespace
