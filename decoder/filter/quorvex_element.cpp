/*
 * quorvexdecode: decodes the aircraft telemetry carried on the audio track
 * of an FPV recording or live downlink, and passes the audio on attenuated
 * so that the pilot still hears it, faintly.
 *
 * Takes interleaved signed 16-bit audio (S16LE) of any rate and any number
 * of channels; with two channels the `channel` property picks the one the
 * telemetry is on, and `demodulator` (seed or robust) the receiver that
 * decodes it. The output has the input's format.
 *
 * Every decoded frame is posted on the bus as an element message whose
 * structure is named "quorvex-telemetry" (switch off with post-messages=false):
 *
 *   timestamp, stream-time, running-time   (GstClockTime) when the frame's
 *                                           last sample played
 *   type        (string) "position", "uplink" or "battery"
 *   key         (int)    the frame's key in the decoder's history
 *   position:   time-of-day (int, ms of the UTC day as the aircraft sends
 *               it), latitude, longitude (double, degrees), altitude (double,
 *               m above sea level), satellites (int), nmea (string, the fix's
 *               RMC and GGA sentences with CR LF), and once the launch site
 *               is known altitude-above-launch, distance (double, m)
 *   uplink:     rssi1, rssi2, link-quality, failsafes, frequency-error, bin,
 *               good-packets, bad-packets (int)
 *   battery:    voltage (int, mV), capacity-used (int, mAh), current (int, mA)
 *
 * Examples (GST_PLUGIN_PATH pointing at the folder of libquorvex.so):
 *
 *   gst-launch-1.0 -m filesrc location=flight.wav ! wavparse ! audioconvert ! \
 *       quorvexdecode rate=norm channel=1 ! fakesink
 *
 *   gst-launch-1.0 -m pulsesrc ! audioconvert ! \
 *       quorvexdecode demodulator=robust attenuation=1.0 ! \
 *       autoaudiosink
 *
 * The decoded state is also read through IQuorvex from the `decoder`
 * property.
 */

#include "decoder/filter/quorvex_element.h"

#include <cstdint>
#include <string_view>

#include "common/iquorvex_demodulator.h"
#include "common/wire/slot_rates.h"
#include "decoder/filter/brelane_telemetry_decode.h"
#include "decoder/filter/quorvex_library.h"
#include "platform/com/com_ptr.h"

#ifndef PACKAGE
#define PACKAGE "quorvex"
#endif
#ifndef QUORVEX_VERSION
#error "QUORVEX_VERSION comes from the project's version"
#endif

namespace {

constexpr const char* kCaps =
    "audio/x-raw, format=(string)S16LE, layout=(string)interleaved, "
    "rate=(int)[ 1, max ], channels=(int)[ 1, max ]";

enum RateChoice { kRateSlow, kRateNorm, kRateFast };
constexpr std::int32_t kSlotRates[] = {wire::kSlotRateSlow, wire::kSlotRateNorm,
                                       wire::kSlotRateFast};

GType RateEnumType() {
  static const GType type = [] {
    static const GEnumValue values[] = {
        {kRateSlow, "2388 slots per second", "slow"},
        {kRateNorm, "4777 slots per second", "norm"},
        {kRateFast, "9554 slots per second", "fast"},
        {0, nullptr, nullptr},
    };
    return g_enum_register_static("QuorvexRate", values);
  }();
  return type;
}

// Ids after the element's own `decoder` property.
enum : guint { kPropRate, kPropChannel, kPropAttenuation, kPropPostMessages, kPropCount };
guint firstId = 0;

BrelaneTelemetryDecode& Decoder(CTransformFilter* filter) {
  // This element hosts no other filter.
  return *static_cast<BrelaneTelemetryDecode*>(filter);
}

void InstallProperties(GObjectClass* klass, guint first) {
  firstId = first;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  g_object_class_install_property(
      klass, first + kPropRate,
      g_param_spec_enum("rate", "Telemetry rate", "The slot rate the aircraft sends at",
                        RateEnumType(), kRateNorm, flags));
  g_object_class_install_property(
      klass, first + kPropChannel,
      g_param_spec_int("channel", "Telemetry channel",
                       "With two channels, the one that carries the telemetry (0 left, 1 right)", 0,
                       1, 1, flags));
  g_object_class_install_property(
      klass, first + kPropAttenuation,
      g_param_spec_double("attenuation", "Attenuation",
                          "Gain of the audio passed on (1.0 passes it unchanged)", 0.0, 1.0,
                          CQuorvexControl::kPassThroughGain, flags));
  g_object_class_install_property(
      klass, first + kPropPostMessages,
      g_param_spec_boolean("post-messages", "Post messages",
                           "Post a quorvex-telemetry element message for every decoded frame", TRUE,
                           flags));
}

void SetProperty(CTransformFilter* filter, guint id, const GValue* value, GParamSpec* pspec) {
  BrelaneTelemetryDecode& d = Decoder(filter);
  switch (id - firstId) {
    case kPropRate:
      d.SetBitRate(kSlotRates[g_value_get_enum(value)]);
      break;
    case kPropChannel:
      d.SetAudioChannel(g_value_get_int(value));
      break;
    case kPropAttenuation:
      d.SetPassThroughGain(g_value_get_double(value));
      break;
    case kPropPostMessages:
      d.SetPostMessages(g_value_get_boolean(value));
      break;
    default:
      g_warning("quorvexdecode: no property %s", pspec->name);
      break;
  }
}

void GetProperty(CTransformFilter* filter, guint id, GValue* value, GParamSpec* pspec) {
  BrelaneTelemetryDecode& d = Decoder(filter);
  switch (id - firstId) {
    case kPropRate: {
      // A rate set through IQuorvex that is none of the three reads as the
      // nearest.
      const std::int32_t rate = d.SlotRate();
      g_value_set_enum(value, rate < 3500 ? kRateSlow : rate < 7000 ? kRateNorm : kRateFast);
      break;
    }
    case kPropChannel:
      g_value_set_int(value, d.AudioChannel());
      break;
    case kPropAttenuation:
      g_value_set_double(value, d.PassThroughGain());
      break;
    case kPropPostMessages:
      g_value_set_boolean(value, d.PostMessages());
      break;
    default:
      g_warning("quorvexdecode: no property %s", pspec->name);
      break;
  }
}

bool SetDemodulator(IUnknown* filter, const char* name) {
  ComPtr<IQuorvexDemodulator> control;
  if (FAILED(filter->QueryInterface(IID_IQuorvexDemodulator, control.PutVoid()))) return false;
  const std::string_view n(name);
  if (n != "seed" && n != "robust") return false;
  return SUCCEEDED(
      control->SetDemodulator(n == "seed" ? kQuorvexDemodulatorSeed : kQuorvexDemodulatorRobust));
}

const char* GetDemodulator(IUnknown* filter) {
  ComPtr<IQuorvexDemodulator> control;
  int value = kQuorvexDemodulatorSeed;
  if (SUCCEEDED(filter->QueryInterface(IID_IQuorvexDemodulator, control.PutVoid())))
    control->GetDemodulator(&value);
  return value == kQuorvexDemodulatorRobust ? "robust" : "seed";
}

const TransformElementSetting kDemodulatorSetting = {
    "demodulator",
    "seed: the receiver recordings have always been decoded with; robust: matched filter, "
    "clock recovery and hum removal, for noisy, off-rate and lossily recorded signals",
    "seed",
    &SetDemodulator,
    &GetDemodulator,
};

gboolean PluginInit(GstPlugin* plugin) { return RegisterTransformElement(plugin, kQuorvexElement); }

}  // namespace

const TransformElementInfo kQuorvexElement = {
    "quorvexdecode",
    "QuorvexDecode",
    "Brelane Telemetry",
    "Filter/Analyzer/Audio",
    "Decodes the aircraft telemetry carried on 16-bit PCM audio, posts every frame on the bus "
    "and passes the audio on attenuated; the decoded state is also read through IQuorvex",
    "Aviquent",
    GST_RANK_NONE,
    "decoder",
    &CLSID_Quorvex,
    &DllGetClassObject,
    "S16LE",
    &kDemodulatorSetting,
    kCaps,
    &InstallProperties,
    &SetProperty,
    &GetProperty,
};

GstStructure* TelemetryStructure(const CQuorvexControl::DecodedFrame& frame, GstClockTime timestamp,
                                 GstClockTime streamTime, GstClockTime runningTime) {
  GstStructure* s =
      gst_structure_new("quorvex-telemetry", "timestamp", G_TYPE_UINT64, timestamp, "stream-time",
                        G_TYPE_UINT64, streamTime, "running-time", G_TYPE_UINT64, runningTime,
                        "key", G_TYPE_INT, frame.key, nullptr);
  constexpr double kUnitsPerDegree = 600000.0;
  switch (frame.type) {
    case kFramePosition: {
      const PositionRecord& p = frame.position;
      gst_structure_set(s, "type", G_TYPE_STRING, "position", "time-of-day", G_TYPE_INT, p.timeMs,
                        "latitude", G_TYPE_DOUBLE, p.latitude / kUnitsPerDegree, "longitude",
                        G_TYPE_DOUBLE, p.longitude / kUnitsPerDegree, "altitude", G_TYPE_DOUBLE,
                        p.altitude / 100.0, "satellites", G_TYPE_INT, int{p.numSats}, nullptr);
      if (!frame.nmea.empty())
        gst_structure_set(s, "nmea", G_TYPE_STRING, frame.nmea.c_str(), nullptr);
      if (frame.launchSiteKnown) {
        gst_structure_set(s, "altitude-above-launch", G_TYPE_DOUBLE,
                          double{frame.altitudeAboveLaunch}, "distance", G_TYPE_DOUBLE,
                          double{frame.distance}, nullptr);
      }
      break;
    }
    case kFrameUplink: {
      const UplinkRecord& u = frame.uplink;
      gst_structure_set(s, "type", G_TYPE_STRING, "uplink", "rssi1", G_TYPE_INT, int{u.rssiValue1},
                        "rssi2", G_TYPE_INT, int{u.rssiValue2}, "link-quality", G_TYPE_INT,
                        int{u.linkQuality}, "failsafes", G_TYPE_INT, int{u.nFailsafes},
                        "frequency-error", G_TYPE_INT, int{u.freqError}, "bin", G_TYPE_INT,
                        int{u.iCurrentBin}, "good-packets", G_TYPE_INT, int{u.nGoodPacketsThisBin},
                        "bad-packets", G_TYPE_INT, int{u.nBadPacketsThisBin}, nullptr);
      break;
    }
    case kFrameBattery: {
      const BatteryRecord& b = frame.battery;
      gst_structure_set(s, "type", G_TYPE_STRING, "battery", "voltage", G_TYPE_INT, int{b.voltage},
                        "capacity-used", G_TYPE_INT, int{b.capacityUsed}, "current", G_TYPE_INT,
                        b.current, nullptr);
      break;
    }
  }
  return s;
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quorvex,
                  "Telemetry decoding for FPV ground stations", PluginInit, QUORVEX_VERSION,
                  "Proprietary", "Quorvex", "Aviquent")
