#include "viewer/dialogs/uplink_status_dlg.h"

#include "viewer/dialogs/field_layout.h"
#include "viewer/dialogs/status_formats.h"

CUplinkStatusDlg::CUplinkStatusDlg(ui::IUiService& ui, QWidget* parent)
    : ui::CDialog(MakeTemplate(), ui, parent) {}

ui::DialogTemplate CUplinkStatusDlg::MakeTemplate() {
  using field_layout::AddField;
  using field_layout::Field;
  ui::DialogTemplate dialog;
  dialog.id = IDD;
  dialog.caption = QStringLiteral("Dravik Uplink Status");
  dialog.cx = 399;
  dialog.cy = 208;

  // Three columns of read-outs, the notes at the right, the bars below.
  const Field columns[3][4] = {
      {{IDC_RSSI1, QStringLiteral("Uplink RSSI1"), QStringLiteral("dBm")},
       {IDC_RSSI2, QStringLiteral("Uplink RSSI2"), QStringLiteral("dBm")},
       {IDC_LINK_QUALITY, QStringLiteral("Uplink Quality"), QStringLiteral("%")},
       {IDC_FAILSAFES, QStringLiteral("Failsafe Count"), QStringLiteral("times")}},
      {{IDC_FREQ_ERROR, QStringLiteral("Freq Error"), {}},
       {IDC_CURRENT_BIN, QStringLiteral("Current Bin"), {}},
       {IDC_BAD_PACKETS_THIS_BIN, QStringLiteral("Bad Packets This Bin"), {}},
       {IDC_GOOD_PACKETS_THIS_BIN, QStringLiteral("Good Packets This Bin"), {}}},
      {{IDC_RANGE_NO_MARGIN, QStringLiteral("Max. Range (no margin)"), QStringLiteral("km")},
       {IDC_RANGE_10DB, QStringLiteral("Max. Range (10dB margin)"), QStringLiteral("km")},
       {IDC_RX_SENSITIVITY, QStringLiteral("Rx Sensitivity"), QStringLiteral("dBm"), false},
       {0, {}, {}}},
  };
  for (int column = 0; column < 3; ++column) {
    for (int row = 0; row < 4; ++row) {
      const Field& field = columns[column][row];
      if (field.id == 0) continue;
      AddField(dialog, field, 7 + 100 * column, 7 + 28 * row, 96, 40, 30);
    }
  }

  field_layout::AddStatic(
      dialog, QStringLiteral("Note: Uplink status requires an Aviquent long-range R/C tx/rx pair."),
      310, 7, 82, 52);
  field_layout::AddStatic(
      dialog,
      QStringLiteral("If installed, live RSSI (signal strength) data is presented during flight."),
      310, 63, 82, 52);

  for (int bar = 0; bar < 8; ++bar) {
    const int x = 12 + 26 * bar;
    dialog.controls.push_back(ui::ControlTemplate(kChannelBarIds[bar],
                                                  ui::ControlKind::kVerticalSlider, QString(), x,
                                                  124, 16, 56)
                                  .Range(0, kChannelMax));
    field_layout::AddStatic(dialog, QStringLiteral("CH%1").arg(bar + 1), x - 4, 183, 24,
                            field_layout::kLabelHeight, ui::kCentered);
  }

  field_layout::AddButton(dialog, ui::IDOK, QStringLiteral("Close"), 342, 187, 50, 14,
                          ui::kDefaultButton);
  return dialog;
}

bool CUplinkStatusDlg::OnInitDialog() {
  // The exchange below reads the box, so the starting sensitivity (the
  // one remembered from the last run, -100 at first) is put there first.
  SetDlgItemText(IDC_RX_SENSITIVITY, QString::number(rxSensitivity));
  ui::CDialog::OnInitDialog();
  for (QSlider* bar : channelBars) {
    if (bar != nullptr) bar->setRange(0, kChannelMax);
  }
  return true;
}

void CUplinkStatusDlg::DoDataExchange(ui::DataExchange& exchange) {
  exchange.Text(IDC_RSSI1, rssi1);
  exchange.Text(IDC_RSSI2, rssi2);
  exchange.Text(IDC_LINK_QUALITY, linkQuality);
  exchange.Text(IDC_FAILSAFES, nFailsafes);
  exchange.Text(IDC_FREQ_ERROR, freqError);
  exchange.Text(IDC_CURRENT_BIN, iCurrentBin);
  exchange.Text(IDC_GOOD_PACKETS_THIS_BIN, nGoodPacketsThisBin);
  exchange.Text(IDC_BAD_PACKETS_THIS_BIN, nBadPacketsThisBin);
  exchange.Text(IDC_RANGE_NO_MARGIN, rangeNoMargin);
  exchange.Text(IDC_RANGE_10DB, range10dB);
  if (exchange.Failed()) return;
  for (std::size_t bar = 0; bar < channelBars.size(); ++bar) {
    channelBars[bar] = Item<QSlider>(kChannelBarIds[bar]);
  }
  // In both directions: a display refresh is also when a typed
  // sensitivity takes effect. Whatever was typed counts, atoi-style.
  rxSensitivity = LeadingInteger(GetDlgItemText(IDC_RX_SENSITIVITY));
}

void CUplinkStatusDlg::RecordBin(std::int32_t bin, std::int32_t badPackets) {
  if (bin < 0 || bin >= kBins) return;
  badPacketsPerBin[static_cast<std::size_t>(bin)] = badPackets;
}

void CUplinkStatusDlg::SetChannelBars(std::span<const std::int32_t, 8> channels) {
  if (!ChannelBarsExist()) return;
  for (std::size_t bar = 0; bar < channelBars.size(); ++bar) {
    if (channelBars[bar] != nullptr) channelBars[bar]->setValue(channels[bar]);
  }
}
