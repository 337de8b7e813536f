#pragma once

#include "platform/gst/graph_interfaces.h"

// The creation functions behind CreateGraphObject; each hands out `iid` of
// a new object.
HRESULT CreateFilterGraph(REFIID iid, void** object);
HRESULT CreateCaptureGraphBuilder(REFIID iid, void** object);
HRESULT CreateSystemDeviceEnum(REFIID iid, void** object);
HRESULT CreateAudioOutputFilter(REFIID iid, void** object);
