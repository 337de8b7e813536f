#pragma once

#include <gst/gst.h>

#include <string>

#include "platform/filter/media_type.h"
#include "platform/gst/gst_ptr.h"

// Between GStreamer caps and media types. Interleaved audio/x-raw in a
// format the platform's wave formats can name becomes audio with a
// WAVEFORMATEX: unsigned 8-bit and signed 16, 24 and 32-bit little-endian
// integers as PCM, 32 and 64-bit little-endian floats as IEEE float. Every
// other audio (non-interleaved, big-endian, signed 8-bit, padded samples,
// compressed) keeps the audio major type but has no subtype and no format
// block, so that filters refuse it rather than misread it. Caps that are not
// fixed or not audio give an empty type.
CMediaType MediaTypeFromCaps(const GstCaps* caps);

// Interleaved audio/x-raw for an audio type with a wave format block; null
// when the type has no such form.
GstCapsPtr CapsFromMediaType(const CMediaType& type);

// "U8, 1 channel, 44100 Hz" for raw audio, the caps string otherwise: for
// messages a user reads.
std::string DescribeCaps(const GstCaps* caps);
