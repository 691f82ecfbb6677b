// The blocking effects render with the real ffmpeg: the files it leaves in
// the temporary folder, what they hold, and a dropped plug-in stage.
#include "effects/FXRender.h"
#include "analysis/ProbeAudio.h"
#include "effects/FXChain.h"
#include "effects/FXEdit.h"
#include "library/ToolPaths.h"
#include "platform/audio/AudioFile.h"
#include "playback/DecodeCommand.h"
#include "playback/InFlightFiles.h"

#include "CaseRows.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QRegularExpression>

#include <sndfile.h>

using namespace ql;
using test::tempFile;

namespace {

// The chain of the preset "록", as the effects panel makes it.
std::optional<QString> rockChain() {
    FXState state;
    choosePreset(state, QStringLiteral("록"));
    return fxChain(state, false);
}

QStringList renderFiles() {
    return QDir::temp().entryList({QStringLiteral("Quavelark-fx-*")}, QDir::Files);
}

struct RenderCase {
    const char* name;
    std::optional<QString> chain;
    std::vector<PluginSlot> plugins;
    bool rendered;
    std::optional<RenderNote> note;
};

const std::vector<RenderCase>& renderCases() {
    static const std::vector<RenderCase> cases{
        {"the rock chain gives one float file", rockChain(), {}, true, std::nullopt},
        {"no chain copies the source into float", std::nullopt, {}, true, std::nullopt},
        {"a rejected filter gives no file and leaves none",
         QStringLiteral("bass=g=abc"),
         {},
         false,
         std::nullopt},
        {"a failing plug-in stage keeps the ffmpeg result and names its slot",
         rockChain(),
         {PluginSlot{QStringLiteral("Tape Echo"), 1, 2, 3, {}}},
         true,
         RenderNote{2, QStringLiteral("플러그인을 불러오지 못했습니다: "),
                    QStringLiteral("Tape Echo")}},
    };
    return cases;
}

} // namespace

class FXRenderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        test::AudioShape shape;
        shape.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        shape.frames = 3 * 44100;
        QVERIFY(test::writeAudio(tempFile(QStringLiteral("three seconds.flac")), shape));
    }
    void cleanup() {
        for (const QString& name : renderFiles())
            QFile::remove(tempFile(name));
    }

    void theChainIsPassedOnlyWhenThereIsOne() {
        QVERIFY(!renderArguments("a.flac", std::nullopt, "o.caf", "/").contains("-af"));
        const QStringList with =
            renderArguments("a.flac", QStringLiteral("bass=g=3"), "o.caf", "/");
        QCOMPARE(with.mid(with.indexOf("-af"), 2), QStringList({"-af", "bass=g=3"}));
    }

    void renders_data() { test::addRows(renderCases()); }
    void renders() {
        const RenderCase& c = test::currentCase(renderCases());
        RenderSnapshot snapshot;
        snapshot.path = tempFile(QStringLiteral("three seconds.flac"));
        snapshot.duration = 3;
        snapshot.chain = c.chain;
        snapshot.plugins = c.plugins;
        snapshot.ffmpeg = toolPath(QStringLiteral("ffmpeg"));
        snapshot.tempDir = QDir::tempPath();
        snapshot.inFlight = std::make_shared<InFlightFiles>();
        const RenderResult result = renderFXBlocking(snapshot);

        QCOMPARE(result.note, c.note);
        QCOMPARE(result.file.has_value(), c.rendered);
        const QStringList left = renderFiles();
        QCOMPARE(left.size(), c.rendered ? 1 : 0);
        QCOMPARE(snapshot.inFlight->close(),
                 c.rendered ? QStringList{*result.file} : QStringList{});
        if (!c.rendered)
            return;
        static const QRegularExpression name(QStringLiteral("^Quavelark-fx-[0-9A-F-]{36}\\.caf$"));
        QVERIFY2(name.match(left.front()).hasMatch(), qPrintable(left.front()));
        QCOMPARE(probeAudio(*result.file), (StreamFacts{"pcm_f32le", 44100, 32, 2, 3}));
        const platform::AudioFile::Opened opened = platform::AudioFile::open(*result.file);
        QVERIFY2(opened.file, qPrintable(opened.error));
        QCOMPARE(opened.file->frames(), std::int64_t(3 * 44100));
    }
};

QL_TEST_MAIN_CORE(FXRenderTest)
#include "FXRenderTest.moc"
