#include "common/history_frames.h"

std::vector<TelemetryFrame> HistoryFrames(IQuorvex& decoder, int count) {
  std::vector<TelemetryFrame> frames;
  for (int key = 0; key < count; ++key) {
    TelemetryFrame f;
    float longitude = 0, latitude = 0, altitude = 0, aboveLaunch = 0, heading = 0, distance = 0;
    float launchLongitude = 0, launchLatitude = 0, launchAltitude = 0;
    if (decoder.GetPositionAt(key, &f.timeOfDayMs, &longitude, &latitude, &altitude, &aboveLaunch,
                              &heading, &distance, &f.satellites) == S_OK) {
      f.type = TelemetryFrame::Type::kPosition;
      f.longitude = longitude;
      f.latitude = latitude;
      f.altitude = altitude;
      decoder.GetLaunchSite(&launchLongitude, &launchLatitude, &launchAltitude);
      f.launchSiteKnown = launchLongitude != 0 || launchLatitude != 0;
      f.altitudeAboveLaunch = aboveLaunch;
      f.distance = distance;
    } else if (decoder.GetUplinkStatusAt(key, &f.rssi1, &f.rssi2, &f.linkQuality, &f.failsafes,
                                         &f.frequencyError, &f.bin, &f.goodPackets,
                                         &f.badPackets) == S_OK) {
      f.type = TelemetryFrame::Type::kUplink;
    } else if (decoder.GetBatteryStatusAt(key, &f.voltageMv, &f.capacityUsedMah, &f.currentMa) ==
               S_OK) {
      f.type = TelemetryFrame::Type::kBattery;
    } else {
      continue;
    }
    frames.push_back(f);
  }
  return frames;
}
