// ---- library: quality labels ----
//
// One ffprobe per path on the serial quality queue; the label rule is the pure
// unit QualityLabel. A probe that could not start or was killed at its time
// limit gives "확인 불가" for this run only (qualUnfinished): it is not a fact
// about the file, so it is never saved and the next run asks again.
#include "app/App.h"

#include "app/DecodeCommand.h"
#include "app/Delivery.h"
#include "app/SettingLimits.h"
#include "library/QualityLabel.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "platform/UserFiles.h"
#include "platform/audio/FfmpegGate.h"

#include <QDir>
#include <QThreadPool>
#include <QTimer>

namespace ql {

namespace {

constexpr int kHiResList = 6;
constexpr int kRefilterMs = 1200;

struct QualityResult {
    QString label;
    bool unfinished = false;
};

QualityResult probeQuality(const QString& ffprobe, const QString& path,
                           const std::shared_ptr<platform::ChildRegistry>& children) {
    if (platform::FfmpegGate::kept(path))
        return {QStringLiteral("확인 불가"), false};
    platform::ChildOptions options;
    options.registry = children; // the quit ends a probe still running
    const platform::ChildRun run = platform::runChild(
        ffprobe,
        {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-select_streams"),
         QStringLiteral("a:0"), QStringLiteral("-show_entries"),
         QStringLiteral("stream=codec_name,sample_rate,bits_per_raw_sample,"
                        "bits_per_sample,bit_rate:format=bit_rate"),
         QStringLiteral("-of"), QStringLiteral("json"), ffmpegInput(path, QDir::currentPath())},
        options);
    QualityResult result{QStringLiteral("확인 불가"), !run.finished()};
    if (!run.finished())
        return result;
    if (const std::optional<ProbeFacts> f = readProbeFacts(run.out))
        result.label = qualityLabel(f->codec, f->rate, f->bits, f->bitRate);
    return result;
}

// The hi-res list, refiltered once the results stop coming; playback waiting
// for its first track starts then.
void refilterHiRes(App& app) {
    app.filter(false);
    if (app.library.autoPlayWhenReady && smartListIndex(app.listening.smartMode) == kHiResList &&
        !app.browser.filtered.empty()) {
        app.library.autoPlayWhenReady = false;
        app.play(app.browser.filtered.front());
    }
}

void storeQuality(App& app, const Track& track, const QualityResult& result) {
    LibraryState& lib = app.library;
    lib.qualPending.remove(track.path);
    lib.qual.insert(track.path, result.label);
    if (result.unfinished)
        lib.qualUnfinished.insert(track.path);
    else
        lib.qualUnfinished.remove(track.path);
    lib.qualDirty = true;
    if (smartListIndex(app.listening.smartMode) == kHiResList) {
        if (!lib.qualRefilter) {
            lib.qualRefilter = new QTimer(&app);
            lib.qualRefilter->setSingleShot(true);
            QObject::connect(lib.qualRefilter, &QTimer::timeout, &app,
                             [&app] { refilterHiRes(app); });
        }
        lib.qualRefilter->start(kRefilterMs);
    }
    app.qualityChanged(track.path);
}

} // namespace

QString App::probeTool(const QString& name) const {
    return services.tools->probeTool(name);
}

void App::requestQuality(const Track& track) {
    if (library.qualPending.contains(track.path))
        return;
    library.qualPending.insert(track.path);
    if (services.observer->qualityProbe(track))
        return;
    const QString ffprobe = probeTool(QStringLiteral("ffprobe"));
    qualityQueue->start([delivery = Delivery(this), ffprobe, track, children = children] {
        // A file refused as slow is left unfinished: asked again later.
        QualityResult result{QStringLiteral("확인 불가"), true};
        platform::UserFiles::readNow(track.path, [&](const platform::UserFiles::Touch&) {
            result = probeQuality(ffprobe, track.path, children);
        });
        delivery.post([track, result](App& app) { storeQuality(app, track, result); });
    });
}

} // namespace ql
