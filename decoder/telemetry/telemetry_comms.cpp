#include "decoder/telemetry/telemetry_comms.h"

#include <string>

#include "platform/com/utf.h"

#if defined(_WIN32)
#error "the serial sink needs a Win32 implementation"
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

speed_t SpeedFor(std::int32_t baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B38400;
  }
}

}  // namespace

CTelemetryComms::~CTelemetryComms() {
  if (handle_ >= 0) ::close(handle_);
}

int CTelemetryComms::Close() {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
  open_ = false;
  return 0;
}

int CTelemetryComms::Write(BSTR text) {
  const ComBstr owned = ComBstr::Attach(text);
  if (handle_ < 0) return 0;
  std::string bytes;
  bytes.reserve(owned.Length());
  for (char16_t c : owned.View()) bytes += c < 0x100 ? static_cast<char>(c) : '?';
  // Non-blocking: a full output queue drops the rest rather than stall.
  [[maybe_unused]] const auto written = ::write(handle_, bytes.data(), bytes.size());
  return 0;
}

bool CTelemetryComms::Open(std::u16string_view portName) {
  Close();
  portName_ = ComBstr(portName);
  const std::string path = Utf16ToUtf8(portName);
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    ::close(fd);
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL;
  ::cfsetispeed(&tio, SpeedFor(baudRate_));
  ::cfsetospeed(&tio, SpeedFor(baudRate_));
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  open_ = true;
  return true;
}
