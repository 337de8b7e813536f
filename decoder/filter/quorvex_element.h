#pragma once

#include <gst/gst.h>

#include "decoder/control_interface/quorvex_control.h"

// The structure of the element message posted for one decoded frame.
// `timestamp` is the buffer time of the sample that completed the frame;
// stream and running time follow from the segment (GST_CLOCK_TIME_NONE when
// the buffer had no time).
GstStructure* TelemetryStructure(const CQuorvexControl::DecodedFrame& frame, GstClockTime timestamp,
                                 GstClockTime streamTime, GstClockTime runningTime);
