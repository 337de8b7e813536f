#pragma once

#include <string>
#include <string_view>

#include "platform/gst/graph_interfaces.h"

// The decoder's NMEA side output as the viewer prepares it for each graph.
// `recordingPath` is the file played, empty for live capture. The file's
// modification time dates the sentences of a recording (the decoder takes
// the current date for live audio by itself). Returns what to tell the user
// when another program holds the decoder's NMEA file, the first time only
// in this process; empty otherwise.
std::u16string PrepareNmeaOutput(IBaseFilter* decoder, std::u16string_view recordingPath);
