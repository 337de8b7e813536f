#include "viewer/telemetry/refresh_cycle.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "common/iquorvex.h"
#include "common/kml_writer.h"
#include "platform/com/com_ptr.h"
#include "platform/com/utf.h"
#include "viewer/dialogs/battery_status_dlg.h"
#include "viewer/dialogs/current_decoder.h"
#include "viewer/dialogs/positional_status_dlg.h"
#include "viewer/dialogs/status_formats.h"
#include "viewer/dialogs/uplink_status_dlg.h"

namespace {

// Below these distances the economy figures would be noise over a near
// zero divisor.
constexpr float kMinTotalDistance = 20.0f;
constexpr float kMinWindowDistance = 1.0f;
constexpr std::int32_t kWindowMs = 30000;

// The track's descriptions are plain ASCII.
template <typename... Args>
std::u16string Describe(const char* format, Args... args) {
  char text[64];
  std::snprintf(text, sizeof text, format, args...);
  return Utf8ToUtf16(text);
}

}  // namespace

void ReadTelemetryValues(IQuorvex& quorvex, TelemetrySample& sample) {
  ReadTelemetrySnapshotValues(quorvex, sample);
  // The receiver reports the signal level as a positive number of dB below
  // a milliwatt; from here on it is dBm.
  sample.rssiValue1 = -sample.rssiValue1;
  sample.rssiValue2 = -sample.rssiValue2;
}

TelemetrySample ReadTelemetrySample(IQuorvex& quorvex) {
  TelemetrySample sample;
  quorvex.GetPacketCounts(&sample.goodPackets, &sample.badPackets);
  ReadTelemetryValues(quorvex, sample);
  return sample;
}

HeadingStep SmoothHeading(float heading, float smoothed) {
  // Unwrapped towards the smoothed value, so that turning through south
  // does not swing the average the long way round.
  if (heading > 90.0f && smoothed < -90.0f) {
    heading -= 360.0f;
  } else if (smoothed > 90.0f && heading < -90.0f) {
    heading += 360.0f;
  }
  smoothed = (heading - smoothed + 5.0f * smoothed) / 5.0f;
  if (smoothed > 180.0f) {
    smoothed -= 360.0f;
  } else if (smoothed < -180.0f) {
    smoothed += 360.0f;
  }
  return {heading, smoothed};
}

RangeEstimate EstimateRange(float distanceMetres, std::int32_t rssi1Dbm, std::int32_t rssi2Dbm,
                            std::int32_t rxSensitivityDbm) {
  const float best = static_cast<float>(std::max(rssi1Dbm, rssi2Dbm));
  const float margin = best - static_cast<float>(rxSensitivityDbm);
  const auto factor = [](float exponent) {
    return static_cast<float>(std::pow(2.0, static_cast<double>(exponent)));
  };
  const float noMargin = factor(margin / 6.0f);
  const float with10dB = factor((margin - 10.0f) / 6.0f);
  const float kilometres = distanceMetres / 1000.0f;
  // A typed sensitivity far below any signal overflows the factor; the
  // estimate then saturates instead of being undefined.
  return {TruncateToInt32(kilometres * noMargin), TruncateToInt32(kilometres * with10dB)};
}

Economy EconomyPerKm(std::int32_t capacityMah, std::int32_t voltageMv, float distanceMetres) {
  // mAh x mV reaches 4.3e9 on a large pack: 64 bits before the division.
  const auto mah = static_cast<float>(std::int64_t{capacityMah} * 1000);
  const auto microWattHours = static_cast<float>(std::int64_t{capacityMah} * voltageMv);
  return {TruncateToInt32(mah / distanceMetres), TruncateToInt32(microWattHours / distanceMetres)};
}

std::int32_t LostPackets(std::int32_t linkQuality, std::int32_t lastLinkQuality) {
  std::int32_t lost = linkQuality - lastLinkQuality;
  if (linkQuality < lastLinkQuality) lost += 255;
  return lost;
}

RefreshCycle::RefreshCycle(IRefreshHost& host) : host_(host) {}

RefreshCycle::RefreshCycle(IRefreshHost& host, const State& resumed)
    : host_(host), state_(resumed) {}

bool RefreshCycle::Tick() {
  UpdateSeekSlider();

  const ComPtr<IQuorvex> quorvex = QueryQuorvex(host_.DecoderFilter());
  if (!quorvex) return false;
  quorvex->SetAudioChannel(host_.SwapAudioChecked() ? 0 : 1);

  TelemetrySample sample;
  quorvex->GetPacketCounts(&sample.goodPackets, &sample.badPackets);
  host_.ShowPacketCounts(static_cast<std::uint32_t>(sample.goodPackets),
                         static_cast<std::uint32_t>(sample.badPackets));
  ReadTelemetryValues(*quorvex, sample);

  // Ticks come ten times a second, fixes a few times: everything costly
  // happens once per fix, recognised by its time.
  if (!sample.HasPosition() || sample.timeMs == state_.lastSampleTime) return false;
  state_.lastSampleTime = sample.timeMs;
  ProcessSample(sample);
  return true;
}

void RefreshCycle::UpdateSeekSlider() {
  float ratio = 0.0f;
  if (IMediaSeeking* seeking = host_.MediaSeeking()) {
    LONGLONG& duration = host_.Duration();
    seeking->GetDuration(&duration);
    LONGLONG current = 0;
    LONGLONG stop = 0;
    seeking->GetPositions(&current, &stop);
    if (duration > 0) {
      ratio = static_cast<float>(static_cast<double>(current) / static_cast<double>(duration));
    }
  }
  host_.SetSeekSlider(std::clamp(TruncateToInt32(ratio * 100.0f), 0, 100));
}

void RefreshCycle::ProcessSample(TelemetrySample& sample) {
  const HeadingStep heading = SmoothHeading(sample.heading, state_.smoothedHeading);
  sample.heading = heading.heading;
  state_.smoothedHeading = heading.smoothed;

  // The window figures change at most once per 30 s, on the first fix
  // past the window's end; a clock that went back waits until it passes it.
  float travelledDelta = 0.0f;
  std::int32_t capacityDelta = 0;
  const bool windowClosed = sample.timeMs > state_.windowEndTime;
  if (windowClosed) {
    travelledDelta = sample.distanceTravelled - state_.windowStartTravelled;
    capacityDelta = sample.capacityUsed - state_.windowStartCapacity;
    state_.windowStartCapacity = sample.capacityUsed;
    // A garbled time near the 32-bit limit must not wrap the end round.
    state_.windowEndTime = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::int64_t{sample.timeMs} + kWindowMs, INT32_MAX));
    state_.windowStartTravelled = sample.distanceTravelled;
  }

  CPositionalStatusDlg& positional = host_.PositionalStatus();
  positional.longitude = sample.longitude;
  positional.latitude = sample.latitude;
  positional.altitudeAboveLaunch = sample.altitudeAboveLaunch;
  positional.altitude = sample.altitude;
  positional.numSats = sample.numSats;
  positional.heading = sample.heading;
  positional.distance = sample.distance;
  positional.distanceTravelled = sample.distanceTravelled;
  positional.launchLongitude = sample.launchLongitude;
  positional.launchLatitude = sample.launchLatitude;
  positional.launchAltitude = sample.launchAltitude;
  if (positional.HasWindow()) positional.UpdateData(false);

  CUplinkStatusDlg& uplink = host_.UplinkStatus();
  // The sensitivity is the one read at the dialog's last refresh.
  const RangeEstimate range =
      EstimateRange(sample.distance, sample.rssiValue1, sample.rssiValue2, uplink.rxSensitivity);
  uplink.rssi1 = sample.rssiValue1;
  uplink.rssi2 = sample.rssiValue2;
  uplink.linkQuality = sample.linkQuality;
  uplink.nFailsafes = sample.nFailsafes;
  uplink.freqError = sample.freqError;
  uplink.iCurrentBin = sample.iCurrentBin;
  uplink.nGoodPacketsThisBin = sample.nGoodPacketsThisBin;
  uplink.nBadPacketsThisBin = sample.nBadPacketsThisBin;
  uplink.rangeNoMargin = range.noMargin;
  uplink.range10dB = range.with10dB;
  uplink.SetChannelBars(std::span(sample.channels).first<8>());
  uplink.RecordBin(sample.iCurrentBin, sample.nBadPacketsThisBin);
  if (uplink.HasWindow()) uplink.UpdateData(false);

  CBatteryStatusDlg& battery = host_.BatteryStatus();
  battery.voltage = sample.voltage;
  battery.capacityUsed = sample.capacityUsed;
  battery.current = sample.current;
  const Economy total =
      sample.distanceTravelled > kMinTotalDistance
          ? EconomyPerKm(sample.capacityUsed, sample.voltage, sample.distanceTravelled)
          : Economy{0, 0};
  battery.totalMahPerKm = total.mahPerKm;
  battery.totalMwhPerKm = total.mwhPerKm;
  if (travelledDelta > kMinWindowDistance) {
    const Economy window = EconomyPerKm(capacityDelta, sample.voltage, travelledDelta);
    battery.currentMahPerKm = window.mahPerKm;
    battery.currentMwhPerKm = window.mwhPerKm;
  }
  if (battery.HasWindow()) battery.UpdateData(false);

  host_.LaunchEarth(false);
  if (host_.EarthLinkedAndPresent()) {
    host_.DriveCamera(sample.latitude, sample.longitude, sample.altitude, state_.smoothedHeading);
  }

  host_.ShowOnMap(sample);

  KmlWriter plane;
  plane.SetIconStyle(host_.IconHref(), 2.5f, sample.heading);
  plane.AddPoint(sample.longitude, sample.latitude, 0.0f, {});
  // An unwritable file is tried again with the next fix.
  plane.WritePositionFile(host_.KmlPath(u"planePos.kml"), u"PlanePos", false);

  KmlWriter& track = host_.TrackWriter();
  const int plot = host_.PlotSelection();
  switch (plot) {
    case kPlotGroundTrack:
      track.AddPoint(sample.longitude, sample.latitude, 0.0f, {});
      break;
    case kPlotAltitude:
      track.AddPoint(sample.longitude, sample.latitude, sample.altitude, {});
      break;
    case kPlotRssi:
      track.AddPoint(sample.longitude, sample.latitude,
                     static_cast<float>(2 * std::max(0, 110 - sample.rssiValue1)),
                     Describe("RSSI1: %d, RSSI2: %d", sample.rssiValue1, sample.rssiValue2));
      break;
    case kPlotLostPackets:
      track.AddPoint(
          sample.longitude, sample.latitude,
          static_cast<float>(LostPackets(sample.linkQuality, state_.lastLinkQuality) * 10),
          Describe("Bad: %d, Good: %d", sample.linkQuality, sample.nFailsafes));
      state_.lastLinkQuality = sample.linkQuality;
      break;
    default:
      // "Link Quality", "GPS Sat Count" and no selection add nothing.
      break;
  }
  if (host_.ShowGroundTrack()) {
    // Only the point just added is formatted; the writer keeps the text
    // of every earlier one.
    track.WriteTrackFile(host_.KmlPath(u"planeTrack.kml"), u"GroundTrack", plot != kPlotAltitude,
                         true);
  }
}
