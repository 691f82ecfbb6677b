// Guards against: (fixture) a sound server's PCM that answers unlike one.
// A sound server's PCM as alsa-lib's I/O plugin interface makes one (as the
// PulseAudio and PipeWire plugins are made): every frame written is handed
// on to the server at once, and the server has played none yet (its
// position stays at the start), so all of them count as queued.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <unistd.h>

namespace {

struct Server {
    snd_pcm_ioplug_t io{};
    int fds[2] = {-1, -1}; // never readable: the server never asks for more
};

snd_pcm_ioplug_callback_t callbacks() {
    snd_pcm_ioplug_callback_t c{};
    c.start = [](snd_pcm_ioplug_t*) { return 0; };
    c.stop = [](snd_pcm_ioplug_t*) { return 0; };
    c.pointer = [](snd_pcm_ioplug_t*) -> snd_pcm_sframes_t { return 0; };
    c.transfer = [](snd_pcm_ioplug_t*, const snd_pcm_channel_area_t*, snd_pcm_uframes_t,
                    snd_pcm_uframes_t size) { return snd_pcm_sframes_t(size); };
    c.close = [](snd_pcm_ioplug_t* io) {
        auto* s = static_cast<Server*>(io->private_data);
        ::close(s->fds[0]);
        ::close(s->fds[1]);
        delete s;
        return 0;
    };
    return c;
}

const snd_pcm_ioplug_callback_t kCallbacks = callbacks();

} // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(qltestserver) {
    (void)root;
    (void)conf;
    auto* s = new Server;
    if (pipe(s->fds) < 0) {
        delete s;
        return -errno;
    }
    s->io.version = SND_PCM_IOPLUG_VERSION;
    s->io.name = "test sound server";
    s->io.callback = &kCallbacks;
    s->io.private_data = s;
    s->io.poll_fd = s->fds[0];
    s->io.poll_events = POLLIN;
    if (const int err = snd_pcm_ioplug_create(&s->io, name, stream, mode); err < 0) {
        kCallbacks.close(&s->io);
        return err;
    }
    static const unsigned access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned formats[] = {SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_FLOAT_LE};
    snd_pcm_ioplug_set_param_list(&s->io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
    snd_pcm_ioplug_set_param_list(&s->io, SND_PCM_IOPLUG_HW_FORMAT, 2, formats);
    snd_pcm_ioplug_set_param_minmax(&s->io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 8);
    snd_pcm_ioplug_set_param_minmax(&s->io, SND_PCM_IOPLUG_HW_RATE, 8000, 192000);
    snd_pcm_ioplug_set_param_minmax(&s->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20);
    snd_pcm_ioplug_set_param_minmax(&s->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
    *pcmp = s->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(qltestserver);
}
