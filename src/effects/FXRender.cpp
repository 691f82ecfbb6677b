#include "effects/FXRender.h"

#include "effects/UpsampleFile.h"
#include "playback/DecodeCommand.h"
#include "playback/InFlightFiles.h"
#include "playback/RateMatch.h"

#include <QFile>
#include <QUuid>

#include <sndfile.h>

namespace ql {

namespace {

// The files of one render: each is registered while it exists.
class StageFiles {
public:
    explicit StageFiles(const RenderSnapshot& snapshot) : m_snapshot(snapshot) {}
    // A fresh file name, registered; none once the quit closed the registry.
    std::optional<QString> choose() const {
        const QString path = renderOutputPath(m_snapshot.tempDir, QUuid::createUuid());
        if (m_snapshot.inFlight && !m_snapshot.inFlight->add(path))
            return std::nullopt;
        return path;
    }
    void drop(const QString& path) const {
        if (m_snapshot.inFlight)
            m_snapshot.inFlight->take(path);
        QFile::remove(path);
    }

private:
    const RenderSnapshot& m_snapshot;
};

// The sample rate of an audio file, or none when libsndfile cannot open it.
std::optional<double> fileRate(const QString& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return std::nullopt;
    sf_close(file);
    return double(info.samplerate);
}

} // namespace

RenderStages RenderStages::standard() {
    return {&ql::renderAU, &ql::upsampleTarget, &ql::upsampleCAF};
}

std::optional<RenderNote> renderAU(const QString&, const QString&,
                                   const std::vector<PluginSlot>& plugins) {
    return RenderNote{2, QStringLiteral("플러그인을 불러오지 못했습니다: "),
                      plugins.empty() ? QString() : plugins.front().name};
}

RenderResult renderFXBlocking(const RenderSnapshot& s) {
    const StageFiles files(s);
    RenderResult result;

    const std::optional<QString> first = files.choose();
    if (!first)
        return result;
    platform::ChildOptions options;
    options.timeoutMs = platform::wholeFileLimitMs(s.duration);
    options.discardStdout = true;
    options.registry = s.children;
    const platform::ChildRun run = platform::runChild(
        s.ffmpeg, renderArguments(s.path, s.chain, *first, s.currentDir), options);
    if (!run.succeeded()) {
        files.drop(*first);
        return result;
    }
    QString current = *first;

    // Each later stage either replaces `current` or is dropped, keeping it.
    const auto stage = [&](const std::function<std::optional<RenderNote>(const QString&)>& run) {
        const std::optional<QString> output = files.choose();
        if (!output)
            return;
        if (const std::optional<RenderNote> error = run(*output)) {
            files.drop(*output);
            if (!result.note)
                result.note = error;
            return;
        }
        files.drop(current);
        current = *output;
    };
    if (!s.plugins.empty() && s.stages.renderAU)
        stage([&](const QString& out) { return s.stages.renderAU(current, out, s.plugins); });
    if (s.upMode > 0 && s.stages.upsampleTarget && s.stages.upsampleCAF) {
        if (const std::optional<double> rate = fileRate(current))
            if (const std::optional<double> target =
                    s.stages.upsampleTarget(*rate, s.upMode, s.deviceRates))
                stage([&](const QString& out) {
                    return s.stages.upsampleCAF(current, out, *target);
                });
    }
    result.file = current;
    return result;
}

} // namespace ql
