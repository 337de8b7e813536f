#pragma once

#include <array>
#include <string_view>

// The entries of the plane-icon list in list order. The maker's icons are
// ours and come from the viewer's own icon server (icon_server.h), so they
// show without an internet connection; the generic one is a public map icon
// that Google Earth finds by itself.
struct PlaneIcon {
  std::u16string_view name;
  std::u16string_view path;  // of the link
  std::string_view file;     // in the icon folder; empty for the public icon
};

inline constexpr std::array<PlaneIcon, 6> kPlaneIcons{{
    {u"EasyStar", u"/kml/EasyStar64x64.png", "EasyStar64x64.png"},
    {u"EasyGlider", u"/kml/EasyGlider64x64.png", "EasyGlider64x64.png"},
    {u"Cularis", u"/kml/Cularis64x64.png", "Cularis64x64.png"},
    {u"FunJet", u"/kml/FunJet64x64.png", "FunJet64x64.png"},
    {u"Generic", u"/mapfiles/kml/shapes/airports.png", ""},
    {u"Zephyr", u"/kml/Zephyr.png", "Zephyr64x64.png"},
}};

// The public map-icon server, the same host as the track's default icon.
inline constexpr std::u16string_view kPublicIconServer = u"http://maps.google.com";
