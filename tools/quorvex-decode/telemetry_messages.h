#pragma once

#include <gst/gst.h>

#include <optional>

#include "common/telemetry_frame.h"

// The frame a "quorvex-telemetry" element message carries; nullopt for any
// other message.
std::optional<TelemetryFrame> FrameFromMessage(const GstStructure* s);
