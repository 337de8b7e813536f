#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, only when
# something is missing. Runs as root (CI) or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  # The media graph: GStreamer with the plugins that play, encode (tests make
  # their media files with gst-launch-1.0) and capture through PulseAudio.
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-pulseaudio
  pulseaudio pulseaudio-utils
  # quorvex-decode's tests read its JSON output.
  libjson-glib-dev
  # The viewer: Qt 6 Widgets (Network for the icon server),
  # a real font for the offscreen platform, and an X server for screenshots.
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins fonts-dejavu-core
  xvfb xdotool imagemagick
  # The live map's view in the window (Chromium inside Qt).
  qt6-webengine-dev
  # The demo flight's caption and clock (textoverlay, timeoverlay);
  # rsvg-convert, which renders the artwork's PNGs from their SVG sources;
  # xwininfo, with which screenshots find the windows.
  gstreamer1.0-x librsvg2-bin x11-utils
  # The install test validates the desktop entry.
  desktop-file-utils
  # Real consumers of the NMEA output: a converter and gpsd (gpsfake).
  gpsbabel gpsd gpsd-clients
  # The reference KML 2.2 library reads every KML document we write.
  libkml-dev
  # The GPX files we write are checked against the GPX 1.1 schema.
  libxml2-utils
  # The live map: npm fetches Leaflet at build time; its tests drive the
  # page in headless chromium.
  nodejs chromium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Some nodejs builds bring npm along; Debian's comes without it.
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
