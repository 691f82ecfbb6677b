// The output sink of one ALSA device: the engine's stream written to the
// device's PCM through AlsaPcmStream, in exactly the engine's format.
//
// open() readies the device first (AlsaHardware::prepareStream: the card's
// sound server is asked to let go of a `hw:` device), then opens the PCM
// without waiting: a device another program holds fails at once with a
// sentence saying so. close() closes the PCM but keeps the card reserved, so a
// reopen at another rate or format does not hand the card to the server and
// take it back; the reservation goes back with release() or with the sink.
//
// Threads: as the sink contract says; open/close on the main thread (they
// touch the hardware object), write/report/pause on the feeder (they touch
// only the stream).
#pragma once

#include "platform/AudioSink.h"
#include "platform/alsa/AlsaPcmStream.h"

#include <memory>

namespace ql::platform::alsa {

class AlsaHardware;

class AlsaSink final : public AudioSink {
public:
    AlsaSink(AlsaHardware& hardware, DeviceId device);
    ~AlsaSink() override;

    bool open(const StreamFormat& format, QString& error) override;
    bool takesAnyRate() const override;
    std::int64_t write(const void* data, std::int64_t frames) override;
    SinkReport report() override;
    void pause(bool paused) override;
    bool canPause() const override;
    void drop() override;
    std::int64_t rewind(std::int64_t frames) override;
    void start() override;
    void drain(int timeoutMs) override;
    void wait(std::int64_t frames, int timeoutMs, int wakeFd) override;
    void close() override;
    // Closes the PCM and gives a reserved card back to its sound server.
    void release() override;
    std::int64_t recoveries() const override;

    // The ALSA format of an engine sample format.
    static PcmFormat pcmFormatOf(platform::SampleFormat format);

private:
    AlsaHardware& m_hardware;
    DeviceId m_device;
    std::unique_ptr<AlsaPcmStream> m_stream;
    std::int64_t m_recoveredBefore = 0; // by the streams closed so far
};

} // namespace ql::platform::alsa
