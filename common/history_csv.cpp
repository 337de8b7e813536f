#include "common/history_csv.h"

#include <cstdio>

#include "platform/file/atomic_file.h"

namespace history_csv {

std::string Build(IQuorvex& decoder) {
  int count = 0;
  decoder.GetRecordCount(&count);
  return Build(decoder, count);
}

std::string Build(IQuorvex& decoder, int count) {
  std::string out = std::string(kHeader) + "\r\n";

  int timeMs = 0, numSats = 0;
  float longitude = 0, latitude = 0, altitude = 0, altitudeAboveLaunch = 0, heading = 0,
        distance = 0;
  for (int key = 0; key < count; ++key) {
    // Each key belongs to one history; the look-ups leave their outputs
    // alone for the others, so the position values carry forward.
    decoder.GetPositionAt(key, &timeMs, &longitude, &latitude, &altitude, &altitudeAboveLaunch,
                          &heading, &distance, &numSats);
    int u[8];
    if (decoder.GetUplinkStatusAt(key, &u[0], &u[1], &u[2], &u[3], &u[4], &u[5], &u[6], &u[7]) !=
        S_OK)
      continue;
    char row[512];
    std::snprintf(row, sizeof row, "%g,%d,%d,%d,%d,%d,%d,%d,%d,%g,%g,%g,%g,%g\r\n", timeMs / 1000.0,
                  u[0], u[1], u[2], u[3], u[4], u[5], u[6], u[7], static_cast<double>(distance),
                  static_cast<double>(altitude), static_cast<double>(altitudeAboveLaunch),
                  static_cast<double>(latitude), static_cast<double>(longitude));
    out += row;
  }
  return out;
}

HRESULT Write(IQuorvex& decoder, const std::filesystem::path& path, std::string* error) {
  return ReplaceFileContents(path, Build(decoder), error) ? S_OK : E_FAIL;
}

HRESULT Write(IQuorvex& decoder, int recordCount, const std::filesystem::path& path,
              std::string* error) {
  return ReplaceFileContents(path, Build(decoder, recordCount), error) ? S_OK : E_FAIL;
}

}  // namespace history_csv
