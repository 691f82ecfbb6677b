// The controller's side of the quality analysis window.
//
// showAudioScan() is the one way in: the transport bar's analysis button and
// the tools panel's "🔬 음질 분석" button both call it.
#include "analysis/AnalyzeFile.h"
#include "analysis/AudioScanPanel.h"
#include "app/App.h"
#include "library/ToolPaths.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

namespace ql {

void App::showAudioScan() {
    const std::optional<Track> track = selectedOrCurrent();
    if (!track) {
        status->setStringValue(L10n::tr(QStringLiteral("분석할 곡을 선택하거나 재생하세요.")));
        return;
    }
    // The analysis it replaces is of no use any more: its readers end now.
    if (scanStop)
        scanStop->request();
    scanStop = std::make_shared<platform::ChildStop>();
    AnalysisTools tools = analysisTools();
    tools.stop = scanStop;
    scanPanel->analyze = [analysers = services.analysers, tools](const QString& path) {
        return analysers->analyzeScan(path, tools);
    };
    scanPanel->show(*track);
}

AnalysisTools App::analysisTools() const {
    AnalysisTools tools;
    tools.ffmpeg = services.tools->decodeProgram();
    tools.ffprobe = probeTool(QStringLiteral("ffprobe"));
    tools.registry = children;
    return tools;
}

} // namespace ql
