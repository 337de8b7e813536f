#pragma once

#include <filesystem>
#include <string>

#include "common/iquorvex.h"

// The decoder's packet history as CSV: one row per uplink record, in order of
// arrival, joined with the latest position record received before it
// (zeros before the first). Battery records are not part of it. Spreadsheets
// and earlier exports read exactly this layout, CR LF line ends included.
namespace history_csv {

inline constexpr char kHeader[] =
    "time, rssiValue1, rssiValue2, linkQuality, nFailsafes, freqError, iCurrentBin, "
    "nGoodPacketsThisBin, nBadPacketsThisBin,distance,Altitude(ASL),Altitude(AGL),Latitude,"
    "Longitude";

std::string Build(IQuorvex& decoder);
// Only the records with keys below `recordCount`: the history as it stood
// when that count was taken, however much arrived since.
std::string Build(IQuorvex& decoder, int recordCount);

// S_OK, or E_FAIL when the file cannot be written (nothing is left behind).
HRESULT Write(IQuorvex& decoder, const std::filesystem::path& path, std::string* error = nullptr);
HRESULT Write(IQuorvex& decoder, int recordCount, const std::filesystem::path& path,
              std::string* error = nullptr);

}  // namespace history_csv
