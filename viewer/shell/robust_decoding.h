#pragma once

#include <QString>

#include "platform/com/unknown.h"

// The "Robust decoding" choice of the main window's context menu, kept under
// the program's settings key next to the telemetry rate. An empty path means
// the user's real settings; tests give a file of their own.
class RobustDecodingStore {
 public:
  explicit RobustDecodingStore(QString iniPath = {}) : iniPath_(std::move(iniPath)) {}

  // Off when nothing was stored.
  bool Read() const;
  // Failures are not reported: the setting is a convenience.
  void Write(bool robust) const;

 private:
  QString iniPath_;
};

// Puts `decoder` on the robust or the first demodulator. A decoder that
// offers no choice (an older library) is left as it is.
void ApplyRobustDecoding(IUnknown* decoder, bool robust);
