// ---- listening: the lyrics panel's button, action and seek ----
//
// The tools panel places what is made here: makeLyricsButton() is the first
// control of its first row, and installLyricsSeek() runs once during its
// build (after the speed label, before the playback-mode boxes).
#include "app/App.h"

#include "listening/LyricsPanel.h"
#include "platform/audio/AudioPlayer.h"

#include <QPointer>
#include <QPushButton>

namespace ql {

void App::toggleLyrics() {
    if (playback.current)
        lyricsPanel->currentTrack = *playback.current;
    lyricsPanel->toggle();
}

QPushButton* App::makeLyricsButton() {
    QPushButton* b = button(QStringLiteral("🎤 가사"), weakCall(&App::toggleLyrics));
    b->setToolTip(QStringLiteral(
        "싱크 가사 창 (LRCLIB). 한 번 가져온 가사는 저장되어 오프라인에서도 보입니다."));
    return b;
}

// The position goes to the player as it is: the player keeps it within the
// track itself.
void App::installLyricsSeek() {
    QPointer<App> self(this);
    lyricsPanel->onSeek = [self](double seconds) {
        if (self)
            self->cancelPrepared();
        if (self && self->playback.audio)
            self->setAudioTime(seconds);
        if (self)
            self->publish();
    };
}

} // namespace ql
