#pragma once

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

// The decoder's NMEA sentences on the network, for moving maps, gpsd and
// antenna trackers that follow the plane live, beside IQuorvex (whose layout
// stays as it is). Reached by QueryInterface on the decoder object. The
// method order is the vtable layout: never reorder, insert or remove a
// method.

// {1DDC0010-1C25-47C6-8251-FBEDAF3E0F88}
inline constexpr IID IID_IQuorvexNmeaNetwork{
    0x1DDC0010, 0x1C25, 0x47C6, {0x82, 0x51, 0xFB, 0xED, 0xAF, 0x3E, 0x0F, 0x88}};

struct IQuorvexNmeaNetwork : IUnknown {
  // From the next fix on, its RMC and GGA sentences go as UDP datagrams
  // (one per sentence) to `udpDestination`, "HOST[:PORT]", and to every
  // client of a TCP server on `tcpEndpoint`, "[ADDRESS:]PORT" (loopback
  // unless an address is given); port 10110 when none is given. Null or
  // empty: none of that kind. The values in force again change nothing, so
  // TCP clients stay connected. On failure nothing changes: E_INVALIDARG
  // for a value that is no address, E_FAIL when it cannot be used (a name
  // not found, a port taken), and `error` (when not null; the caller frees
  // it) names the value and the reason.
  virtual HRESULT STDMETHODCALLTYPE SetNmeaNetwork(BSTR udpDestination, BSTR tcpEndpoint,
                                                   BSTR* error) = 0;

 protected:
  ~IQuorvexNmeaNetwork() = default;
};
