// ---- playback: the fallback roads of a play request ----
//
// Seams for the effects-render and decode roads: rendering the track with the
// effects into a temporary file, and decoding a file our player cannot read
// to a temporary 32-bit float file with ffmpeg, each played when ready unless
// a newer request has come (generation), come with them. Until then a road
// cannot run, and it ends the request the way it ends one that failed:
// loading over, the play button back to play, and the road's own message.
// A test can take the road's place through AppSeams::fallbackRoad.
#include "app/App.h"

#include "playback/Transport.h"
#include "ui/PlayButton.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

namespace ql {

namespace {
void endFailedRoad(App& app, const QString& message) {
    app.playback.loading = false;
    app.status->setStringValue(L10n::tr(message));
    app.views.playButton->setTitle(stoppedTitle());
}
} // namespace

void App::startRenderRoad(const Track& track, quint64 generation) {
    if (seams.fallbackRoad) {
        seams.fallbackRoad("render", track, generation);
        return;
    }
    endFailedRoad(*this, QStringLiteral("효과 처리에 실패했습니다. 효과를 끄고 다시 시도하세요."));
}

void App::startDecodeRoad(const Track& track, quint64 generation) {
    if (seams.fallbackRoad) {
        seams.fallbackRoad("decode", track, generation);
        return;
    }
    endFailedRoad(*this,
                  QStringLiteral("파일을 재생할 수 없습니다. 디스크 연결과 포맷을 확인하세요."));
}

} // namespace ql
