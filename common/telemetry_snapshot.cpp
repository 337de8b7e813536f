#include "common/telemetry_snapshot.h"

#include "common/iquorvex.h"
#include "common/iquorvex_stream.h"
#include "platform/com/com_ptr.h"

void ReadTelemetrySnapshotValues(IQuorvex& quorvex, TelemetrySnapshot& snapshot) {
  TelemetrySnapshot& s = snapshot;
  quorvex.GetPosition(&s.timeMs, &s.longitude, &s.latitude, &s.altitude, &s.altitudeAboveLaunch,
                      &s.heading, &s.distance, &s.distanceTravelled, &s.numSats);
  quorvex.GetUplinkStatus(&s.rssiValue1, &s.rssiValue2, &s.linkQuality, &s.nFailsafes, &s.freqError,
                          &s.iCurrentBin, &s.nGoodPacketsThisBin, &s.nBadPacketsThisBin,
                          s.channels.data());
  quorvex.GetBatteryStatus(&s.voltage, &s.capacityUsed, &s.current);
  quorvex.GetLaunchSite(&s.launchLongitude, &s.launchLatitude, &s.launchAltitude);
  ComPtr<IQuorvexStream> stream;
  int frames = 0;
  if (SUCCEEDED(quorvex.QueryInterface(IID_IQuorvexStream, stream.PutVoid())) && stream &&
      SUCCEEDED(stream->GetPositionFrameCount(&frames))) {
    s.positionFrames = frames;
  }
}

TelemetrySnapshot ReadTelemetrySnapshot(IQuorvex& quorvex) {
  TelemetrySnapshot snapshot;
  quorvex.GetPacketCounts(&snapshot.goodPackets, &snapshot.badPackets);
  ReadTelemetrySnapshotValues(quorvex, snapshot);
  return snapshot;
}
