// What the two alsa-lib users of the backend (AlsaLib, AlsaPcmStream) share:
// the engine's formats in alsa-lib's terms, and a way to keep alsa-lib from
// printing its errors (the player keeps no log; failures come back as values).
// Included only by sources in this folder.
#pragma once

#include "platform/alsa/AlsaApi.h"

#include <alsa/asoundlib.h>

namespace ql::platform::alsa {

inline snd_pcm_format_t alsaFormat(PcmFormat f) {
    switch (f) {
    case PcmFormat::S16_LE:
        return SND_PCM_FORMAT_S16_LE;
    case PcmFormat::S24_LE:
        return SND_PCM_FORMAT_S24_LE;
    case PcmFormat::S32_LE:
        return SND_PCM_FORMAT_S32_LE;
    case PcmFormat::FLOAT_LE:
        return SND_PCM_FORMAT_FLOAT_LE;
    case PcmFormat::S24_3LE:
        return SND_PCM_FORMAT_S24_3LE;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

inline void silentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

inline void silenceAlsaErrors() {
    snd_lib_error_set_handler(&silentAlsaErrors);
}

} // namespace ql::platform::alsa
