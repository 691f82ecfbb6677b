#include "platform/lv2/Lv2Render.h"

#include "platform/audio/AudioFile.h"
#include "platform/lv2/Lv2Instance.h"
#include "platform/lv2/Lv2World.h"

#include <algorithm>
#include <cmath>

namespace ql::platform {

namespace {

using Planar = std::vector<std::vector<float>>;

// One slot's instances wired between two planar buffers.
class Stage {
public:
    enum class Fit { Direct, PerChannel, MonoPair, None };

    static Fit fit(const Lv2Instance& probe, int channels) {
        const std::size_t in = probe.audioInputs().size(), out = probe.audioOutputs().size();
        if (in == out && in == std::size_t(channels))
            return Fit::Direct;
        if (in == 1 && out == 1 && channels > 1)
            return Fit::PerChannel;
        if (in == 2 && out == 2 && channels == 1)
            return Fit::MonoPair;
        return Fit::None;
    }

    Stage(Fit fit, std::vector<std::unique_ptr<Lv2Instance>> instances)
        : m_fit(fit), m_instances(std::move(instances)) {}

    void connect(Planar& in, Planar& out) {
        m_out = &out;
        switch (m_fit) {
        case Fit::Direct:
            for (std::size_t c = 0; c < in.size(); ++c) {
                m_instances[0]->connectAudio(m_instances[0]->audioInputs()[c], in[c].data());
                m_instances[0]->connectAudio(m_instances[0]->audioOutputs()[c], out[c].data());
            }
            break;
        case Fit::PerChannel:
            for (std::size_t c = 0; c < in.size(); ++c) {
                m_instances[c]->connectAudio(m_instances[c]->audioInputs()[0], in[c].data());
                m_instances[c]->connectAudio(m_instances[c]->audioOutputs()[0], out[c].data());
            }
            break;
        case Fit::MonoPair: {
            m_pair.assign(3, std::vector<float>(kMaxBlock, 0.0f));
            m_mono = &in[0];
            Lv2Instance& i = *m_instances[0];
            i.connectAudio(i.audioInputs()[0], in[0].data());
            i.connectAudio(i.audioInputs()[1], m_pair[0].data());
            i.connectAudio(i.audioOutputs()[0], m_pair[1].data());
            i.connectAudio(i.audioOutputs()[1], m_pair[2].data());
            break;
        }
        case Fit::None:
            break;
        }
    }

    void run(std::uint32_t frames) {
        if (m_fit == Fit::MonoPair)
            std::copy_n(m_mono->begin(), frames, m_pair[0].begin());
        for (const auto& instance : m_instances)
            instance->run(frames);
        if (m_fit == Fit::MonoPair)
            for (std::uint32_t k = 0; k < frames; ++k)
                (*m_out)[0][k] = (m_pair[1][k] + m_pair[2][k]) * 0.5f;
    }

private:
    Fit m_fit;
    std::vector<std::unique_ptr<Lv2Instance>> m_instances;
    Planar m_pair; // MonoPair: the second input, then both outputs
    const std::vector<float>* m_mono = nullptr;
    Planar* m_out = nullptr;
};

void line(std::FILE* to, const QByteArray& text) {
    std::fputs(text.constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

int slotFailed(std::FILE* lines, std::size_t index, const char* reason) {
    line(lines, "slot " + QByteArray::number(qulonglong(index)) + ": " + reason);
    return kRenderSlotFailed;
}

} // namespace

int renderWithPlugins(const QString& inputPath, const QString& outputPath,
                      const std::vector<PluginSlot>& plugins, std::FILE* lines,
                      std::FILE* progress) {
    AudioFile::Opened input = AudioFile::open(inputPath);
    if (!input.file) {
        line(progress, input.error.toUtf8());
        return kRenderFailed;
    }
    const double rate = input.file->sampleRate();
    const int channels = input.file->channels();
    if (channels < 1 || !(rate > 0))
        return kRenderFailed;

    Lv2World world(renderStateDir(outputPath));
    std::vector<Stage> stages;
    for (std::size_t s = 0; s < plugins.size(); ++s) {
        line(progress, "loading " + QByteArray::number(qulonglong(s)));
        const LilvPlugin* plugin = world.resolve(plugins[s]);
        if (!plugin)
            return slotFailed(lines, s, "not installed");
        std::vector<std::unique_ptr<Lv2Instance>> instances;
        instances.push_back(Lv2Instance::make(world, plugin, rate));
        if (!instances[0])
            return slotFailed(lines, s, "not instantiable");
        const Stage::Fit fit = Stage::fit(*instances[0], channels);
        if (fit == Stage::Fit::None)
            return slotFailed(lines, s, kChannelLayoutReason);
        while (fit == Stage::Fit::PerChannel && instances.size() < std::size_t(channels)) {
            instances.push_back(Lv2Instance::make(world, plugin, rate));
            if (!instances.back())
                return slotFailed(lines, s, "not instantiable");
        }
        for (const auto& instance : instances) {
            if (plugins[s].state)
                instance->restore(*plugins[s].state);
            instance->activate();
        }
        stages.emplace_back(fit, std::move(instances));
    }
    line(lines, "loaded");

    AudioFile::Opened output = AudioFile::createFloatCaf(outputPath, rate, channels);
    if (!output.file) {
        line(progress, output.error.toUtf8());
        return kRenderFailed;
    }
    std::vector<Planar> buffers(stages.size() + 1,
                                Planar(std::size_t(channels), std::vector<float>(kMaxBlock)));
    for (std::size_t s = 0; s < stages.size(); ++s)
        stages[s].connect(buffers[s], buffers[s + 1]);

    const std::int64_t total = input.file->frames() + std::int64_t(std::floor(rate * 2.0));
    std::vector<double> interleaved(std::size_t(kMaxBlock) * std::size_t(channels));
    bool inputEnded = false;
    for (std::int64_t done = 0; done < total;) {
        const auto n = std::uint32_t(std::min<std::int64_t>(kMaxBlock, total - done));
        std::int64_t got = 0;
        if (!inputEnded) {
            got = input.file->read(interleaved.data(), n);
            if (got < 0) {
                line(progress, input.file->error().toUtf8());
                return kRenderFailed;
            }
            inputEnded = got < n;
        }
        for (int c = 0; c < channels; ++c)
            for (std::uint32_t k = 0; k < n; ++k)
                buffers[0][c][k] =
                    std::int64_t(k) < got ? float(interleaved[k * channels + c]) : 0.0f;
        for (Stage& stage : stages)
            stage.run(n);
        const Planar& last = buffers.back();
        for (int c = 0; c < channels; ++c)
            for (std::uint32_t k = 0; k < n; ++k)
                interleaved[k * channels + c] = last[c][k];
        if (!output.file->write(interleaved.data(), n)) {
            line(progress, output.file->error().toUtf8());
            return kRenderFailed;
        }
        done += n;
    }
    if (!output.file->close()) {
        line(progress, output.file->error().toUtf8());
        return kRenderFailed;
    }
    return 0;
}

} // namespace ql::platform
