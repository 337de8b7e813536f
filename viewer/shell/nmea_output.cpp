#include "viewer/shell/nmea_output.h"

#include <sys/stat.h>

#include <atomic>

#include "common/iquorvex_nmea.h"
#include "platform/com/com_ptr.h"
#include "platform/com/utf.h"

std::u16string PrepareNmeaOutput(IBaseFilter* decoder, std::u16string_view recordingPath) {
  ComPtr<IQuorvexNmea> nmea;
  if (!decoder || FAILED(decoder->QueryInterface(IID_IQuorvexNmea, nmea.PutVoid())) || !nmea)
    return {};
  struct stat st {};
  // The container's own date would need a pass through the file first; the
  // modification time is at hand and lies within hours of the flight.
  if (!recordingPath.empty() && ::stat(Utf16ToUtf8(recordingPath).c_str(), &st) == 0)
    nmea->SetRecordingTime(static_cast<std::int64_t>(st.st_mtime));

  BSTR path = nullptr;
  HRESULT opened = S_OK;
  nmea->GetNmeaFile(&path, &opened);
  const ComBstr owned = ComBstr::Attach(path);
  static std::atomic<bool> told{false};
  if (opened != QUORVEX_E_NMEA_LOCKED || told.exchange(true)) return {};
  return u"The NMEA file " + std::u16string(owned.View()) +
         u" is in use by another program (another VistaroPlayer or a quorvex-decode run); "
         u"this window writes no NMEA sentences.";
}
