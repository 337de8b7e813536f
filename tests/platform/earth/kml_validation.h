#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "kml/dom.h"
#include "kml/engine/find.h"

// What the reference KML 2.2 library does not accept in `document`; empty
// when it accepts all of it. The library's parser is lenient: it keeps
// unknown and misplaced elements aside, drops an enumeration value it does
// not know (an altitudeMode of "relative" falls back to the default), and
// reads children in any order. So each of these is checked here: nothing
// kept aside, every enumeration read, the children in the order the library
// writes them back (the schema's), and the LookAt's angles in range.
inline std::vector<std::string> KmlProblems(const std::string& document) {
  std::vector<std::string> problems;
  std::string errors;
  const kmldom::ElementPtr root = kmldom::Parse(document, &errors);
  if (!root) return {"not parsed: " + errors};
  if (root->Type() != kmldom::Type_kml) problems.push_back("the root is not <kml>");
  if (document.find("<kml xmlns=\"http://www.opengis.net/kml/2.2\">") == std::string::npos) {
    problems.push_back("not in the KML 2.2 namespace");
  }

  kmlengine::ElementVector elements{root};
  kmlengine::GetChildElements(root, true, &elements);
  std::size_t altitudeModes = 0;
  std::size_t refreshModes = 0;
  for (const auto& element : elements) {
    const std::string name = kmldom::GetElementName(element);
    for (std::size_t i = 0; i < element->get_unknown_elements_array_size(); ++i) {
      problems.push_back("unknown in <" + name + ">: " + element->get_unknown_elements_array_at(i));
    }
    for (std::size_t i = 0; i < element->get_misplaced_elements_array_size(); ++i) {
      problems.push_back("misplaced in <" + name + ">: <" +
                         kmldom::GetElementName(element->get_misplaced_elements_array_at(i)) + ">");
    }
    if (const auto point = kmldom::AsPoint(element)) altitudeModes += point->has_altitudemode();
    if (const auto line = kmldom::AsLineString(element)) altitudeModes += line->has_altitudemode();
    if (const auto link = kmldom::AsLink(element)) refreshModes += link->has_refreshmode();
    if (const auto lookAt = kmldom::AsLookAt(element)) {
      altitudeModes += lookAt->has_altitudemode();
      if (lookAt->get_heading() < 0.0 || lookAt->get_heading() > 360.0) {
        problems.push_back("LookAt heading outside 0..360");
      }
      if (lookAt->get_tilt() < 0.0 || lookAt->get_tilt() > 90.0) {
        problems.push_back("LookAt tilt outside 0..90");
      }
      if (lookAt->get_longitude() < -180.0 || lookAt->get_longitude() > 180.0 ||
          lookAt->get_latitude() < -90.0 || lookAt->get_latitude() > 90.0) {
        problems.push_back("LookAt position outside the globe");
      }
    }
  }
  auto count = [&](const std::string& tag) {
    std::size_t n = 0;
    for (auto at = document.find(tag); at != std::string::npos; at = document.find(tag, at + 1)) {
      ++n;
    }
    return n;
  };
  if (altitudeModes != count("<altitudeMode>")) problems.push_back("an altitudeMode not read");
  if (refreshModes != count("<refreshMode>")) problems.push_back("a refreshMode not read");

  // The library writes children in the schema's order.
  auto startTags = [](const std::string& xml) {
    auto nameChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == ':'; };
    std::vector<std::string> tags;
    for (auto at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
      if (at + 1 >= xml.size() || !std::isalpha(static_cast<unsigned char>(xml[at + 1]))) continue;
      auto end = at + 1;
      while (end < xml.size() && nameChar(xml[end])) ++end;
      tags.push_back(xml.substr(at + 1, end - at - 1));
    }
    return tags;
  };
  const auto written = startTags(kmldom::SerializeRaw(root));
  const auto ours = startTags(document);
  if (written != ours) {
    std::string both = "elements out of the schema's order:\n ours:";
    for (const auto& tag : ours) both += " " + tag;
    both += "\n libkml's:";
    for (const auto& tag : written) both += " " + tag;
    problems.push_back(both);
  }
  return problems;
}
