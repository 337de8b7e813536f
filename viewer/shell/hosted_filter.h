#pragma once

#include "platform/com/com_ptr.h"
#include "platform/graph/graph_interfaces.h"

// The decoder library's filter makes the element it runs as
// (IGstElementHost) but does not offer IBaseFilter itself. This gives such
// an object a filter face over that element; every other interface (the
// decoder's IQuorvex among them) comes from the object. An object that is
// a filter already is handed out as it is.
HRESULT FilterOfObject(IUnknown* object, IBaseFilter** filter);
