#pragma once

#include <cstdint>
#include <string_view>

#include "platform/com/bstr.h"

// Serial output of the NMEA sentences, for a moving-map or antenna tracker
// wired to the ground station. Writes never block the streaming thread:
// what the port cannot take at once is dropped, like any other write error.
class CTelemetryComms {
 public:
  static constexpr std::int32_t kDefaultBaudRate = 38400;

  CTelemetryComms() = default;
  CTelemetryComms(const CTelemetryComms&) = delete;
  CTelemetryComms& operator=(const CTelemetryComms&) = delete;
  virtual ~CTelemetryComms();

  virtual int Close();
  // Takes ownership of `text`. Each character goes out as one byte.
  virtual int Write(BSTR text);

  // Opens `portName` (closing any port already open) at the baud rate, 8N1,
  // raw. Returns false and stays closed when the port cannot be opened or is
  // not a terminal device.
  bool Open(std::u16string_view portName);
  bool IsOpen() const { return open_; }
  std::int32_t BaudRate() const { return baudRate_; }
  std::u16string_view PortName() const { return portName_.View(); }

 private:
  int handle_ = -1;
  ComBstr portName_;
  std::int32_t baudRate_ = kDefaultBaudRate;
  bool open_ = false;
};
