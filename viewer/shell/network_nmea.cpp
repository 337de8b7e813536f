#include "viewer/shell/network_nmea.h"

#include <QSettings>
#include <memory>

#include "common/iquorvex_nmea_network.h"
#include "common/nmea_network.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"

namespace {

const QString kUdpDestination = QStringLiteral("NmeaNetwork/UdpDestination");
const QString kTcpEndpoint = QStringLiteral("NmeaNetwork/TcpEndpoint");

std::unique_ptr<QSettings> OpenSettings(const QString& iniPath) {
  if (iniPath.isEmpty())
    return std::make_unique<QSettings>(QStringLiteral("Aviquent"), QStringLiteral("VistaroPlayer"));
  return std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
}

}  // namespace

NetworkNmeaSetting NetworkNmeaStore::Read() const {
  const auto settings = OpenSettings(iniPath_);
  return {settings->value(kUdpDestination).toString().trimmed(),
          settings->value(kTcpEndpoint).toString().trimmed()};
}

void NetworkNmeaStore::Write(const NetworkNmeaSetting& setting) const {
  const auto settings = OpenSettings(iniPath_);
  settings->setValue(kUdpDestination, setting.udpDestination);
  settings->setValue(kTcpEndpoint, setting.tcpEndpoint);
  settings->sync();
}

QString CheckNetworkNmea(const NetworkNmeaSetting& setting) {
  if (!setting.udpDestination.isEmpty()) {
    if (const std::string why = NmeaNetwork::CheckUdp(setting.udpDestination.toStdString());
        !why.empty())
      return QStringLiteral("UDP destination ") + QString::fromStdString(why);
  }
  if (!setting.tcpEndpoint.isEmpty()) {
    if (const std::string why = NmeaNetwork::CheckTcp(setting.tcpEndpoint.toStdString());
        !why.empty())
      return QStringLiteral("TCP port ") + QString::fromStdString(why);
  }
  return {};
}

QString ApplyNetworkNmea(IUnknown* decoder, const NetworkNmeaSetting& setting) {
  ComPtr<IQuorvexNmeaNetwork> network;
  if (!decoder || FAILED(decoder->QueryInterface(IID_IQuorvexNmeaNetwork, network.PutVoid())))
    return {};
  const ComBstr udp(setting.udpDestination.toStdU16String());
  const ComBstr tcp(setting.tcpEndpoint.toStdU16String());
  BSTR error = nullptr;
  const HRESULT hr = network->SetNmeaNetwork(udp.Get(), tcp.Get(), &error);
  const ComBstr why = ComBstr::Attach(error);
  if (SUCCEEDED(hr)) return {};
  return QStringLiteral("NMEA over the network: ") +
         QString::fromStdU16String(std::u16string(why.View()));
}
