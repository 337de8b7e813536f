#pragma once

#include <array>
#include <cstdint>

#include "common/telemetry_snapshot.h"
#include "viewer/telemetry/refresh_host.h"

struct IQuorvex;

// The values one tick reads from the decoder. The viewer holds the two RSSI
// values negated (dBm) from the moment it reads them.
using TelemetrySample = TelemetrySnapshot;

// Reads one sample through the decoder's control interface. The decoder's
// results are not examined: whatever the outputs hold is used.
TelemetrySample ReadTelemetrySample(IQuorvex& quorvex);
// All but the packet counts, which the tick shows before reading on.
void ReadTelemetryValues(IQuorvex& quorvex, TelemetrySample& sample);

// The "Plot" list's entries.
enum PlotSelection : int {
  kPlotGroundTrack = 0,
  kPlotAltitude = 1,
  kPlotRssi = 2,
  kPlotLostPackets = 3,
  kPlotLinkQuality = 4,
  kPlotSatCount = 5,
};

// ---- The derived values, each on its own for tests ----

// The heading unwrapped across the +-180 seam towards the smoothed one, and
// the smoothed heading moved a fifth of the way to it, back in -180..180.
struct HeadingStep {
  float heading;
  float smoothed;
};
HeadingStep SmoothHeading(float heading, float smoothed);

// Whole kilometres the link should reach: 6 dB of margin over the receiver
// sensitivity per doubling of the current distance, once with no margin
// left and once keeping 10 dB in reserve.
struct RangeEstimate {
  std::int32_t noMargin;
  std::int32_t with10dB;
};
RangeEstimate EstimateRange(float distanceMetres, std::int32_t rssi1Dbm, std::int32_t rssi2Dbm,
                            std::int32_t rxSensitivityDbm);

// What a kilometre costs: mAh x 1000 / m is mAh/km, mAh x mV / m is mWh/km.
// Truncated toward zero; saturating rather than undefined when a tiny
// distance makes the figure huge.
struct Economy {
  std::int32_t mahPerKm;
  std::int32_t mwhPerKm;
};
Economy EconomyPerKm(std::int32_t capacityMah, std::int32_t voltageMv, float distanceMetres);

// Lost uplink packets since the last "Lost Packets" point; the counter
// wraps at 255.
std::int32_t LostPackets(std::int32_t linkQuality, std::int32_t lastLinkQuality);

// The viewer's central loop: on every timer tick it moves the seek slider,
// polls the decoder and, once per new position sample, feeds the status
// dialogs, Google Earth, the plane-position file and the flight track.
class RefreshCycle {
 public:
  // What the cycle carries from tick to tick within one recording or
  // capture.
  struct State {
    std::int32_t lastSampleTime = -1;
    float smoothedHeading = 0.0f;
    std::int32_t windowEndTime = 0;
    float windowStartTravelled = 0.0f;
    std::int32_t windowStartCapacity = 0;
    std::int32_t lastLinkQuality = 0;
  };

  explicit RefreshCycle(IRefreshHost& host);
  // Carries on from the state an earlier cycle left.
  RefreshCycle(IRefreshHost& host, const State& resumed);
  RefreshCycle(const RefreshCycle&) = delete;
  RefreshCycle& operator=(const RefreshCycle&) = delete;

  // A new recording or capture: nothing of the last one (its last fix
  // time, its 30-s window, its heading) carries over.
  void BeginRecording() { state_ = State{}; }

  // One tick. Returns true when it processed a new sample.
  bool Tick();

  const State& state() const { return state_; }

 private:
  void UpdateSeekSlider();
  void ProcessSample(TelemetrySample& sample);

  IRefreshHost& host_;
  State state_;
};
