#include "platform/AudioSink.h"

namespace ql::platform {

int bytesPerSample(SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return 2;
    case SampleFormat::S24P:
        return 3;
    case SampleFormat::S24In32:
    case SampleFormat::S32:
    case SampleFormat::F32:
        return 4;
    }
    return 4;
}

int validBits(SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return 16;
    case SampleFormat::S24P:
    case SampleFormat::S24In32:
    case SampleFormat::F32:
        return 24;
    case SampleFormat::S32:
        return 32;
    }
    return 24;
}

} // namespace ql::platform
