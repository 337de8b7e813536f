#pragma once

#include <string>

#include "platform/com/com_ptr.h"
#include "platform/gst/graph_interfaces.h"

// What tests look up in a graph, through the real objects or the failure
// script's wrappers alike.

// The filter of that name in the graph, else null.
ComPtr<IBaseFilter> FindFilter(IGraphBuilder* graph, const std::string& name);
// The element behind the pin at the other end of `pin`; empty when it is
// not connected.
std::string PeerElementName(IPin* pin);
