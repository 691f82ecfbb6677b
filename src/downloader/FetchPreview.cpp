// The downloader's preview: the search of the form's words, the candidates
// of the answer, and the clip of one candidate per press.
#include "downloader/FlacFetcher.h"

#include "app/Delivery.h"
#include "app/UserDefaults.h"
#include "platform/WebFetch.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/l10n/Translator.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>

namespace ql {

void FlacFetcher::previewTapped() {
    const QString words = previewWords(mode->checkedId(), artistField->text(), valueField->text());
    if (words.isEmpty()) {
        summary->setText(QStringLiteral("미리 들을 가수·곡을 입력하세요."));
        return;
    }
    if (words == previewTerm && !previewItems.empty()) {
        previewIndex = (previewIndex + 1) % int(previewItems.size());
        playPreview();
        return;
    }
    summary->setText(QStringLiteral("미리듣기 검색 중…"));
    const QString base =
        UserDefaults().string(keys::kItunesBaseURL).value_or(QString::fromLatin1(kItunesBase));
    // The completion runs on the network thread: the answer is handed to the
    // main thread, where a fetcher destroyed meanwhile drops it. No counter:
    // every answer is applied, in the order they arrive.
    const Delivery delivery(this);
    platform::getJSON(previewRequest(base, words),
                      [delivery, words](std::optional<QJsonValue> answer) {
                          delivery.post([words, answer = std::move(answer)](FlacFetcher& fetcher) {
                              fetcher.previewAnswered(words, answer);
                          });
                      });
}

// Applied as answers arrive, never compared with the words now in the form:
// each answer replaces the candidates and plays its first.
void FlacFetcher::previewAnswered(const QString& words, const std::optional<QJsonValue>& answer) {
    previewItems = previewCandidates(answer);
    previewTerm = words;
    previewIndex = 0;
    if (previewItems.empty()) {
        summary->setText(QStringLiteral("미리듣기 후보가 없습니다."));
        return;
    }
    // The window was closed while the search ran: a clip nobody sees the
    // window of must not start, nor pause the music. The next press plays
    // the first candidate.
    if (!m_window->isVisible()) {
        previewIndex = -1;
        summary->clear();
        return;
    }
    playPreview();
}

void FlacFetcher::playPreview() {
    if (previewIndex < 0 || previewIndex >= int(previewItems.size()))
        return;
    const PreviewItem& item = previewItems[std::size_t(previewIndex)];
    if (onPreviewStart)
        onPreviewStart();
    pausePreview();
    if (makePreviewPlayer)
        previewPlayer = makePreviewPlayer(item.url);
    // A clip that cannot be played stays silent; the summary names it still.
    if (previewPlayer)
        previewPlayer->play();
    Translator::setTranslated(summary,
                              previewSummary(previewIndex, int(previewItems.size()), item.label));
}

// Nothing resumes a paused preview, so its player goes at once, and its
// decoder and connection with it: no decoder is left blocked on its pipe.
void FlacFetcher::pausePreview() {
    if (!previewPlayer)
        return;
    previewPlayer->pause();
    previewPlayer.reset();
}

void FlacFetcher::setPreviewVolume(float volume) {
    if (previewPlayer)
        previewPlayer->setVolume(volume);
}

} // namespace ql
