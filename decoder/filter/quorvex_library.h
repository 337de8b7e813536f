#pragma once

#include "platform/com/class_factory.h"
#include "platform/filter/gst_transform_element.h"

// The decoder library's entry points. Only these and the GStreamer plugin
// descriptor leave the shared library; everything else is hidden.
#define QUORVEX_EXPORT extern "C" __attribute__((visibility("default")))

QUORVEX_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
QUORVEX_EXPORT HRESULT DllCanUnloadNow();
QUORVEX_EXPORT HRESULT DllRegisterServer();
QUORVEX_EXPORT HRESULT DllUnregisterServer();

// The element "quorvexdecode" that hosts the filter in GStreamer.
extern const TransformElementInfo kQuorvexElement;
