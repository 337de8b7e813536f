#pragma once

#include <cstdint>

#include "platform/com/hresult.h"

// The scalar types and result codes of the media framework that filters and
// their hosts exchange. Codes keep the framework's values so that messages
// quoting "hr=0x%x" read the same on every platform.

using BYTE = std::uint8_t;
using LONG = std::int32_t;
using LONGLONG = std::int64_t;
using BOOL = int;
// Stream time in 100-nanosecond units.
using REFERENCE_TIME = std::int64_t;

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

inline constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHresult(0x80040209u);
inline constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeHresult(0x8004020Du);
inline constexpr HRESULT VFW_E_BADALIGN = MakeHresult(0x8004020Eu);
inline constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeHresult(0x8004020Fu);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHresult(0x8004022Au);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeHresult(0x80040249u);
inline constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeHresult(0x80040251u);
inline constexpr HRESULT VFW_S_NO_STOP_TIME = MakeHresult(0x00040270u);
