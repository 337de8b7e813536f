#include "viewer/shell/telemetry_rate_store.h"

#include <QSettings>
#include <memory>

namespace {

const QString kValueName = QStringLiteral("TelemetryRate");

std::unique_ptr<QSettings> OpenSettings(const QString& iniPath) {
  if (iniPath.isEmpty())
    return std::make_unique<QSettings>(QStringLiteral("Aviquent"), QStringLiteral("VistaroPlayer"));
  return std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
}

}  // namespace

std::optional<std::uint32_t> TelemetryRateStore::Read() const {
  const auto settings = OpenSettings(iniPath_);
  if (!settings->contains(kValueName)) return std::nullopt;
  bool ok = false;
  // Stored as an unsigned value; after a restart it comes back as text.
  const std::uint32_t value = settings->value(kValueName).toUInt(&ok);
  if (!ok) return std::nullopt;
  return value;
}

void TelemetryRateStore::Write(std::uint32_t index) const {
  const auto settings = OpenSettings(iniPath_);
  settings->setValue(kValueName, quint32(index));
  settings->sync();
}
