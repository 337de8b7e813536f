#pragma once

#include <QString>

#include "platform/com/unknown.h"

// "NMEA over Network" of the main window's context menu: where the decoder
// sends the sentences of every fix, so that gpsd and moving maps follow the
// plane during playback and live capture. Empty fields send nothing.
struct NetworkNmeaSetting {
  QString udpDestination;  // HOST[:PORT]
  QString tcpEndpoint;     // [ADDRESS:]PORT, loopback unless an address is given

  bool operator==(const NetworkNmeaSetting&) const = default;
};

// Kept under the program's settings key beside the view. An empty path
// means the user's real settings; tests give a file of their own.
class NetworkNmeaStore {
 public:
  explicit NetworkNmeaStore(QString iniPath = {}) : iniPath_(std::move(iniPath)) {}

  // Nothing sent when nothing was stored.
  NetworkNmeaSetting Read() const;
  // Failures are not reported: the setting is a convenience.
  void Write(const NetworkNmeaSetting& setting) const;

 private:
  QString iniPath_;
};

// Empty when both fields read as addresses, else what to tell the pilot,
// naming the value and what is wrong with it. Looks up no names.
QString CheckNetworkNmea(const NetworkNmeaSetting& setting);

// Sends `decoder`'s sentences as `setting` says; empty when done (or when
// the decoder, an older library, cannot send), else what to tell the
// pilot. The setting in force again changes nothing, so every new decoder
// can be given it.
QString ApplyNetworkNmea(IUnknown* decoder, const NetworkNmeaSetting& setting);
