#include "effects/FXRender.h"

#include "app/DecodeCommand.h"
#include "app/JsonCodec.h"
#include "app/WorkFolder.h"
#include "effects/UpsampleFile.h"
#include "platform/audio/FfmpegGate.h"
#include "platform/audio/FlacMetaMask.h"
#include "platform/lv2/Lv2Render.h"
#include "playback/DecodeAhead.h"
#include "playback/InFlightFiles.h"
#include "playback/RateMatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUuid>

#include <sndfile.h>

namespace ql {

namespace {

// Bytes of the plug-in render program's standard error kept.
constexpr qsizetype kRenderStderrTail = 4096;

// The files of one render: each is registered while it exists.
class StageFiles {
public:
    explicit StageFiles(const RenderSnapshot& snapshot) : m_snapshot(snapshot) {}
    // A fresh file name, registered; none once the quit closed the registry.
    // A render stage's by default, else one ending in `suffix`.
    std::optional<QString> choose(const QString& suffix = {}) const {
        const QUuid uuid = QUuid::createUuid();
        const QString path =
            suffix.isEmpty()
                ? renderOutputPath(m_snapshot.tempDir, uuid)
                : temporaryPath(m_snapshot.tempDir, QStringLiteral("Quavelark-fx-"), uuid, suffix);
        if (m_snapshot.inFlight && !m_snapshot.inFlight->add(path))
            return std::nullopt;
        // Made empty with mode 0600 before a stage writes it: each writer
        // keeps the mode, so a render is never readable by others.
        if (!reserveFile(path)) {
            if (m_snapshot.inFlight)
                m_snapshot.inFlight->take(path);
            return std::nullopt;
        }
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

// Whether the first stage failed for want of a readable source: the file
// does not open, or ffmpeg cannot decode it even without the filter chain
// (into nothing, so a full disk is not taken for a damaged file). Asked only
// once the render failed. A check that could not finish blames nothing.
bool sourceUnreadable(const RenderSnapshot& s, const QString& input) {
    QFile file(QDir::isAbsolutePath(s.path) ? s.path : s.currentDir + u'/' + s.path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    file.close();
    platform::ChildOptions options;
    options.timeoutMs = platform::wholeFileLimitMs(s.duration);
    options.discardStdout = true;
    options.registry = s.children;
    options.stop = s.stop;
    const platform::ChildRun run = platform::runChild(
        s.ffmpeg,
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
         ffmpegInput(input, s.currentDir), QStringLiteral("-map"), QStringLiteral("0:a:0"),
         QStringLiteral("-vn"), QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")},
        options);
    return run.finished() && !run.succeeded();
}

} // namespace

RenderStages RenderStages::standard() {
    return {&ql::renderAU, &ql::upsampleTarget, &ql::upsampleCAF};
}

QString pluginRendererPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/quavelark-lv2render");
}

std::optional<RenderNote> renderAU(const QString& input, const QString& output,
                                   const std::vector<PluginSlot>& plugins, const PluginRun& r) {
    const RenderNote failed{3, QStringLiteral("오프라인 렌더링 오류"), {}, {}};
    const std::optional<QByteArray> json = JsonCodec<std::vector<PluginSlot>>::encode(plugins);
    if (!json)
        return failed;
    platform::ChildOptions options;
    options.timeoutMs = r.limitMs;
    options.registry = r.children;
    options.stop = r.stop;
    options.input = *json;
    options.firstLineMs = r.loadLimitMs;
    // Only the last "loading N" line is read, and plug-ins print to the same
    // stream: a tail is enough, and a chatty plug-in cannot grow our memory.
    options.keepStderr = true;
    options.stderrTail = kRenderStderrTail;
    const platform::ChildRun run = platform::runChild(r.program, {input, output}, options);
    // Whatever ended the program (its end, the limits, the quit, a crash).
    QDir(platform::renderStateDir(output)).removeRecursively();

    const auto notLoaded = [&](qsizetype index, const QString& after) -> std::optional<RenderNote> {
        if (index < 0 || std::size_t(index) >= plugins.size())
            return failed;
        return RenderNote{2, QStringLiteral("플러그인을 불러오지 못했습니다: "),
                          plugins[index].name, after};
    };
    // The last of the matching lines, as (index, rest of the line).
    const auto lastLine = [](const QByteArray& text, const QRegularExpression& pattern) {
        std::pair<qsizetype, QString> found{-1, {}};
        for (const QByteArray& l : text.split('\n'))
            if (const QRegularExpressionMatch m = pattern.match(QString::fromUtf8(l)); m.hasMatch())
                found = {m.captured(1).toLongLong(), m.captured(2)};
        return found;
    };
    if (run.noFirstLine) {
        static const QRegularExpression loading(QStringLiteral("^loading (\\d+)()$"));
        return notLoaded(lastLine(run.err, loading).first, {});
    }
    if (run.finished() && !run.crashed && run.exitCode == platform::kRenderSlotFailed) {
        static const QRegularExpression slot(QStringLiteral("^slot (\\d+): (.*)$"));
        const auto [index, reason] = lastLine(run.out, slot);
        return notLoaded(index,
                         reason == QLatin1String(platform::kChannelLayoutReason)
                             ? QStringLiteral(" (이 플러그인의 채널 구성은 지원하지 않습니다)")
                             : QString());
    }
    if (!run.succeeded())
        return failed;
    return std::nullopt;
}

RenderResult renderFXBlocking(const RenderSnapshot& s) {
    const StageFiles files(s);
    RenderResult result;
    // Stopped before its turn on the queue came: nothing is made.
    if (s.stop->requested())
        return result;

    const std::optional<QString> first = files.choose();
    if (!first) {
        // Unless the quit has begun, the folder takes no new file.
        if (!s.inFlight || !s.inFlight->isClosed())
            result.workFault = WorkFileFault::NotMade;
        return result;
    }
    // ffmpeg gathers tags at a cost that grows with the square of their
    // number (minutes for 200,000): a FLAC it must not read (FfmpegGate) is
    // given as a copy without its comments and padding (FlacMetaMask), any
    // other such file not at all: it plays without the processing. A FLAC
    // whose blocks cannot be walked is not read at all.
    QString input = s.path;
    std::optional<QString> masked;
    const QString absolute = QDir::isAbsolutePath(s.path) ? s.path : s.currentDir + u'/' + s.path;
    if (platform::FfmpegGate::kept(absolute)) {
        const platform::FlacLayout layout = platform::FlacMetaMask::walk(absolute);
        if (layout.kind != platform::FlacLayout::Kind::Sound) {
            files.drop(*first);
            if (layout.kind == platform::FlacLayout::Kind::Unsound)
                result.sourceUnreadable = true;
            else
                result.keptFromFfmpeg = true;
            return result;
        }
        masked = files.choose(QStringLiteral(".flac"));
        if (!masked || !platform::FlacMetaMask::copyMasked(absolute, *masked)) {
            // The track then plays without the processing, through the mask.
            if (masked)
                files.drop(*masked);
            files.drop(*first);
            if (!s.inFlight || !s.inFlight->isClosed())
                result.workFault = WorkFileFault::NotMade;
            return result;
        }
        input = *masked;
    }
    // A seat among the ffmpeg writers; none when stopped while waiting for
    // it, which the run below then reports as stopped without a start.
    const WriterSeat seat(s.seats, *s.stop);
    const platform::ChildRun run =
        runDecodeCommand(s.ffmpeg, renderArguments(input, s.chain, *first, s.currentDir),
                         s.duration, s.children, s.stop);
    if (!run.succeeded()) {
        files.drop(*first);
        result.workFault = ffmpegWriteFault(run.err);
        // ffmpeg that did not start or was stopped says nothing of the source.
        result.sourceUnreadable =
            result.workFault == WorkFileFault::None && run.finished() && sourceUnreadable(s, input);
    }
    if (masked)
        files.drop(*masked);
    if (!run.succeeded())
        return result;
    QString current = *first;

    // Each later stage either replaces `current` or is dropped, keeping it.
    const auto stage = [&](const std::function<std::optional<RenderNote>(const QString&)>& run) {
        if (s.stop->requested())
            return;
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
        stage([&](const QString& out) {
            const PluginRun run{
                s.pluginRenderer.isEmpty() ? pluginRendererPath() : s.pluginRenderer, s.children,
                platform::wholeFileLimitMs(s.duration), kPluginLoadLimitMs, s.stop};
            return s.stages.renderAU(current, out, s.plugins, run);
        });
    if (s.upMode > 0 && s.stages.upsampleTarget && s.stages.upsampleCAF) {
        if (const std::optional<double> rate = fileRate(current))
            if (const std::optional<double> target =
                    s.stages.upsampleTarget(*rate, s.upMode, s.deviceRates))
                stage([&](const QString& out) {
                    return s.stages.upsampleCAF(current, out, *target,
                                                [&s] { return s.stop->requested(); });
                });
    }
    if (s.stop->requested()) {
        files.drop(current);
        return result;
    }
    result.file = current;
    return result;
}

} // namespace ql
