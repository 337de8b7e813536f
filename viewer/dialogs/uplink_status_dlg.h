#pragma once

#include <QSlider>
#include <array>
#include <cstdint>
#include <span>

#include "platform/ui/dialog.h"

// The radio-control uplink as the aircraft's long-range receiver reports
// it, with a range estimate and the first eight channels as bars. The
// refresh cycle writes the values straight into the members; the window,
// created on first use and then only hidden, shows them.
class CUplinkStatusDlg : public ui::CDialog {
 public:
  static constexpr int IDD = 103;
  enum ControlId : int {
    IDC_RSSI1 = 1009,
    IDC_RSSI2 = 1028,
    IDC_LINK_QUALITY = 1010,
    IDC_FAILSAFES = 1027,
    IDC_FREQ_ERROR = 1012,
    IDC_CURRENT_BIN = 1013,
    IDC_BAD_PACKETS_THIS_BIN = 1015,
    IDC_GOOD_PACKETS_THIS_BIN = 1014,
    IDC_RANGE_NO_MARGIN = 1016,
    IDC_RANGE_10DB = 1017,
    IDC_RX_SENSITIVITY = 1018,
  };
  // CH1 to CH8, left to right. The identifiers are not in channel order.
  static constexpr std::array<int, 8> kChannelBarIds{1046, 1047, 1048, 1051,
                                                     1050, 1049, 1053, 1052};
  static constexpr int kBins = 40;
  static constexpr int kChannelMax = 255;

  explicit CUplinkStatusDlg(ui::IUiService& ui, QWidget* parent = nullptr);

  static ui::DialogTemplate MakeTemplate();

  // Keeps the bad-packet count of a frequency bin; bins outside 0..39 are
  // ignored, since the count arrives from the air unchecked.
  void RecordBin(std::int32_t iCurrentBin, std::int32_t nBadPacketsThisBin);
  double BadPacketsInBin(int bin) const { return badPacketsPerBin.at(bin); }

  // Moves CH1..CH8 to the given channel values; does nothing until the
  // window exists.
  void SetChannelBars(std::span<const std::int32_t, 8> channels);
  bool ChannelBarsExist() const { return channelBars[0] != nullptr; }

  std::int32_t rssi1 = 0;
  std::int32_t rssi2 = 0;
  std::int32_t linkQuality = 0;
  std::int32_t nFailsafes = 0;
  std::int32_t freqError = 0;
  std::int32_t iCurrentBin = 0;
  std::int32_t nGoodPacketsThisBin = 0;
  std::int32_t nBadPacketsThisBin = 0;
  std::int32_t rangeNoMargin = 0;
  std::int32_t range10dB = 0;
  // Typed by the user; taken over from the box on every display refresh.
  std::int32_t rxSensitivity = -100;
  std::array<QSlider*, 8> channelBars{};
  std::array<double, kBins> badPacketsPerBin{};

 protected:
  void DoDataExchange(ui::DataExchange& exchange) override;
  bool OnInitDialog() override;
};
