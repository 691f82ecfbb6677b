// Guards against: (fixture) a sound server's PCM that answers unlike one.
// A sound server's PCM made as the PulseAudio and PipeWire ones are (an
// alsa-lib I/O plugin): each frame written is handed on at once, and the
// server has played none yet, so all of them count as queued.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

namespace {
snd_pcm_ioplug_callback_t callbacks() {
    snd_pcm_ioplug_callback_t c{};
    c.start = c.stop = [](snd_pcm_ioplug_t*) { return 0; };
    c.pointer = [](snd_pcm_ioplug_t*) -> snd_pcm_sframes_t { return 0; };
    c.transfer = [](snd_pcm_ioplug_t*, const snd_pcm_channel_area_t*, snd_pcm_uframes_t,
                    snd_pcm_uframes_t size) { return snd_pcm_sframes_t(size); };
    c.close = [](snd_pcm_ioplug_t* io) { return delete io, 0; };
    return c;
}
const snd_pcm_ioplug_callback_t kCallbacks = callbacks();
} // namespace

extern "C" {
SND_PCM_PLUGIN_DEFINE_FUNC(qltestserver) {
    auto* io = new snd_pcm_ioplug_t{};
    io->version = SND_PCM_IOPLUG_VERSION;
    io->name = "test sound server";
    io->callback = &kCallbacks;
    io->poll_fd = -1;
    if (const int err = snd_pcm_ioplug_create(io, name, stream, mode); err < 0)
        return delete io, err;
    *pcmp = io->pcm;
    return (void)root, (void)conf, 0;
}
SND_PCM_PLUGIN_SYMBOL(qltestserver);
}
