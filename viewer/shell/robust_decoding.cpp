#include "viewer/shell/robust_decoding.h"

#include <QSettings>
#include <memory>

#include "common/iquorvex_demodulator.h"
#include "platform/com/com_ptr.h"

namespace {

const QString kValueName = QStringLiteral("RobustDecoding");

std::unique_ptr<QSettings> OpenSettings(const QString& iniPath) {
  if (iniPath.isEmpty())
    return std::make_unique<QSettings>(QStringLiteral("Aviquent"), QStringLiteral("VistaroPlayer"));
  return std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
}

}  // namespace

bool RobustDecodingStore::Read() const {
  return OpenSettings(iniPath_)->value(kValueName).toBool();
}

void RobustDecodingStore::Write(bool robust) const {
  const auto settings = OpenSettings(iniPath_);
  settings->setValue(kValueName, robust);
  settings->sync();
}

void ApplyRobustDecoding(IUnknown* decoder, bool robust) {
  ComPtr<IQuorvexDemodulator> choice;
  if (!decoder || FAILED(decoder->QueryInterface(IID_IQuorvexDemodulator, choice.PutVoid())))
    return;
  choice->SetDemodulator(robust ? kQuorvexDemodulatorRobust : kQuorvexDemodulatorSeed);
}
