#include "listening/LyricsPanel.h"

#include "app/Delivery.h"
#include "app/JSONStore.h"
#include "listening/LyricsLookup.h"
#include "platform/WebFetch.h"
#include "ui/ClickableText.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>

namespace ql {

namespace {

constexpr int kLookupMs = 15'000;      // the whole web look-up, both requests
constexpr int kFirstRequestMs = 8'000; // the first request's share of it
constexpr int kWidth = 440;
constexpr int kHeight = 620;
// The panel's top-left corner, from the right and top edges of the screen's
// available area; without a screen that area is taken as 1200 x 800.
constexpr int kFromRight = 470;
constexpr int kFromTop = 40;
constexpr int kNoScreenWidth = 1200;
constexpr int kNoScreenHeight = 800;
constexpr int kInsetX = 18;
constexpr int kInsetY = 24;
constexpr int kParagraphAfter = 10;
constexpr int kTextPoints = 15;
constexpr int kActivePoints = 20;
// How far past the active line the view scrolls first, so that the line does
// not sit at the lower edge.
constexpr int kLookAhead = 120;

const QString kSearching = QStringLiteral("가사 찾는 중…");
const QString kNotFound = QStringLiteral("이 곡의 가사를 찾지 못했습니다.");
const QString kNoLyrics = QStringLiteral("이 곡에는 가사가 없습니다(연주곡일 수 있습니다).");

QTextCharFormat charFormat(int points, const QColor& colour, bool bold = false) {
    QTextCharFormat f;
    f.setFont(Theme::font(points, bold ? QFont::Bold : QFont::Normal));
    f.setForeground(colour);
    return f;
}

// The text of a sidecar file: a regular file within the size bound, valid
// UTF-8 throughout; none otherwise.
std::optional<QString> readSidecar(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > LyricsPanel::kMaxSidecarBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(LyricsPanel::kMaxSidecarBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > LyricsPanel::kMaxSidecarBytes)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

// The text insets are the root frame's margins, so a press in them still
// reaches the view and maps to the nearest character.
QTextDocument* withInsets(QTextDocument* doc) {
    QTextFrameFormat frame = doc->rootFrame()->frameFormat();
    frame.setLeftMargin(kInsetX);
    frame.setRightMargin(kInsetX);
    frame.setTopMargin(kInsetY);
    frame.setBottomMargin(kInsetY);
    doc->rootFrame()->setFrameFormat(frame);
    return doc;
}

// The view's document, emptied.
QTextDocument* emptied(ClickableText* view) {
    view->document()->clear();
    return withInsets(view->document());
}

// A fresh document for a whole draw, with the view's font.
QTextDocument* freshDocument(ClickableText* view) {
    auto* doc = new QTextDocument(view);
    doc->setUndoRedoEnabled(false);
    doc->setDefaultFont(view->document()->defaultFont());
    return withInsets(doc);
}

// Scrolls the least that shows the character position.
void showPosition(ClickableText* view, int position) {
    QTextCursor c(view->document());
    c.setPosition(std::clamp(position, 0, view->document()->characterCount() - 1));
    view->setTextCursor(c);
    view->ensureCursorVisible();
}

} // namespace

LyricsPanel::LyricsPanel(QString storesDir, QUrl serviceBase)
    : window(std::make_unique<QWidget>()), m_storesDir(std::move(storesDir)),
      m_serviceBase(std::move(serviceBase)) {
    QWidget* w = window.get();
    w->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    w->setAttribute(Qt::WA_QuitOnClose, false); // closing only hides it
    w->setWindowTitle(QStringLiteral("가사"));
    w->resize(kWidth, kHeight);

    text = new ClickableText;
    text->setReadOnly(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setFrameShape(QFrame::NoFrame);
    // No background of its own: the window's shows through.
    QPalette palette = text->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    text->setPalette(palette);
    text->viewport()->setAutoFillBackground(false);
    text->setLineWrapMode(QTextEdit::WidgetWidth);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text->setUndoRedoEnabled(false);
    text->onClick = [this](int index) { clicked(index); };

    auto* stack = new QVBoxLayout(w);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(text);
}

LyricsPanel::~LyricsPanel() = default;

bool LyricsPanel::visible() const {
    return window->isVisible();
}

QString LyricsPanel::cacheDir() const {
    return m_storesDir + QStringLiteral("/lyrics");
}

void LyricsPanel::toggle() {
    QWidget* w = window.get();
    if (w->isVisible()) {
        w->hide();
        return;
    }
    QRect area(0, 0, kNoScreenWidth, kNoScreenHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    w->move(area.x() + area.width() - kFromRight, area.y() + kFromTop);
    w->show();
    w->raise();
    if (currentTrack && currentTrack->id != loadedID)
        load(*currentTrack);
}

void LyricsPanel::setTrack(const Track& track) {
    currentTrack = track;
    if (visible())
        load(track);
}

void LyricsPanel::update(double position) {
    if (!visible() || lines.empty())
        return;
    const int candidate = activeLine(lines, position);
    if (candidate == active)
        return;
    active = candidate;
    render(candidate);
}

void LyricsPanel::message(const QString& shown) {
    m_drawnLit.reset();
    QTextDocument* doc = emptied(text);
    QTextCursor c(doc);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    c.setBlockFormat(centred);
    c.insertText(shown, charFormat(kTextPoints, Theme::sub()));
}

void LyricsPanel::apply(const LyricsData& lyrics) {
    lines = parseLyrics(lyrics.synced);
    plain = lyrics.plain;
    if (lines.empty() && plain.isEmpty()) {
        message(kNoLyrics);
        return;
    }
    active = -2;
    m_drawnLit.reset();
    render(-1);
}

// Lines before the lit one share one look, and so do the lines after it, so
// the lines [from, to) go to `run` as at most three spans of one format each.
void LyricsPanel::spans(int from, int to, int lit,
                        const std::function<void(int, int, const QTextCharFormat&)>& run) const {
    const auto clipped = [&](int a, int b, const QTextCharFormat& format) {
        a = std::max(a, from);
        b = std::min(b, to);
        if (a < b)
            run(a, b, format);
    };
    const int n = int(lines.size());
    if (lit < 0) {
        clipped(0, n, charFormat(kTextPoints, Theme::sub()));
        return;
    }
    clipped(0, lit, charFormat(kTextPoints, Theme::dim()));
    clipped(lit, lit + 1, charFormat(kActivePoints, Theme::accent(), true));
    clipped(lit + 1, n, charFormat(kTextPoints, Theme::sub()));
}

// Where the drawn line ends, its line break included.
int LyricsPanel::lineEnd(int i) const {
    return std::size_t(i + 1) < lineStarts.size()
               ? lineStarts[std::size_t(i + 1)]
               : lineStarts[std::size_t(i)] + int(lyricsDisplayText(lines[std::size_t(i)]).size()) +
                     1;
}

// New lyrics are drawn whole, into a fresh document the view then takes: a
// document given whole is laid out as far as it shows and the rest in idle
// steps, where text inserted into the shown one would be laid out at once
// (tens of milliseconds for a long text). When only the lit line moves, just the lines
// whose look changes are restyled (those between the old and the new lit
// line), so a redraw costs what changed, not the whole text; what shows is
// the same as a whole redraw.
void LyricsPanel::render(int activeIndex) {
    const int n = int(lines.size());
    const int lit = activeIndex >= 0 && activeIndex < n ? activeIndex : -1;
    QTextDocument* doc = text->document();
    if (n > 0 && m_drawnLit) {
        const int was = *m_drawnLit;
        const int from = was < 0 || lit < 0 ? 0 : std::min(was, lit);
        QTextCursor c(doc);
        c.beginEditBlock();
        spans(from, std::max(was, lit) + 1, lit, [&](int a, int b, const QTextCharFormat& f) {
            c.setPosition(lineStarts[std::size_t(a)]);
            c.setPosition(lineEnd(b - 1), QTextCursor::KeepAnchor);
            c.setCharFormat(f);
        });
        c.endEditBlock();
    } else {
        doc = freshDocument(text);
        QTextCursor c(doc);
        c.beginEditBlock();
        QTextBlockFormat paragraph;
        paragraph.setAlignment(Qt::AlignHCenter);
        paragraph.setBottomMargin(kParagraphAfter);
        c.setBlockFormat(paragraph);
        lineStarts = lyricsLineStarts(lines);
        if (n > 0) {
            spans(0, n, lit, [&](int a, int b, const QTextCharFormat& f) {
                QString s;
                for (int i = a; i < b; ++i)
                    s += lyricsDisplayText(lines[std::size_t(i)]) + u'\n';
                c.insertText(s, f);
            });
        } else {
            c.insertText(plain, charFormat(kTextPoints, text->palette().color(QPalette::Text)));
        }
        c.endEditBlock();
        // The view deletes the document it made itself; ours go here.
        QTextDocument* old = text->document();
        const bool ours = old->parent() == text;
        text->setDocument(doc);
        if (ours)
            delete old;
    }
    m_drawnLit = n > 0 ? std::optional<int>(lit) : std::nullopt;
    if (lit >= 0) {
        const int start = lineStarts[std::size_t(lit)], end = lineEnd(lit);
        showPosition(text, std::min(doc->characterCount() - 1, end + kLookAhead));
        showPosition(text, end);
        showPosition(text, start);
    }
}

void LyricsPanel::clicked(int index) {
    if (lines.empty())
        return;
    const int i = lineAtIndex(lineStarts, index);
    if (i >= 0 && std::size_t(i) < lines.size() && onSeek)
        onSeek(lines[std::size_t(i)].t);
}

void LyricsPanel::load(const Track& track) {
    ++generation;
    loadedID = track.id;
    lines.clear();
    lineStarts.clear();
    plain.clear();
    active = -2;
    Translator::setTranslatedTitle(window.get(), L10n::tr(QStringLiteral("가사 · ")) + track.title);
    message(kSearching);

    const QString cacheName = QString::number(track.id) + QStringLiteral(".json");
    if (const std::optional<LyricsData> cached =
            JSONStore(cacheDir()).load<LyricsData>(cacheName)) {
        apply(*cached);
        return;
    }
    if (const std::optional<QString> sidecar = readSidecar(sidecarPath(track.path))) {
        apply(LyricsData{*sidecar, QString()});
        return;
    }
    // The panel may be gone by then, or loading another track.
    const Delivery delivery(this, generation);
    fetch(m_serviceBase, track, [delivery, id = track.id](std::optional<LyricsData> lyrics) {
        delivery.post(
            [id, lyrics = std::move(lyrics)](LyricsPanel& panel) { panel.answered(id, lyrics); });
    });
}

void LyricsPanel::answered(qint64 id, const std::optional<LyricsData>& lyrics) {
    if (!lyrics) {
        message(kNotFound);
        return;
    }
    // A failed write is not reported: the lyrics show, and the next load of
    // the track asks the service again.
    JSONStore(cacheDir()).save(QString::number(id) + QStringLiteral(".json"), *lyrics);
    apply(*lyrics);
}

void LyricsPanel::fetch(const QUrl& serviceBase, const Track& track,
                        std::function<void(std::optional<LyricsData>)> done) {
    const LyricsQuery query = lyricsQuery(track.artist, track.title);
    const QUrl search = lyricsSearchAddress(serviceBase, query);
    const double duration = track.duration;
    // However the service answers (a byte now and then keeps the time-out
    // without data from firing), the whole look-up ends within kLookupMs and
    // the panel leaves "가사 찾는 중…": the search gets what the first request
    // left of it.
    QDeadlineTimer lookup(kLookupMs);
    platform::WebFetchOptions first;
    first.deadlineMs = kFirstRequestMs;
    platform::getJSON(
        lyricsGetAddress(serviceBase, query, track.album, duration),
        [search, duration, lookup, done = std::move(done)](std::optional<QJsonValue> answer) {
            if (std::optional<LyricsData> found = syncedAnswer(answer)) {
                done(std::move(found));
                return;
            }
            if (lookup.hasExpired()) {
                done(std::nullopt);
                return;
            }
            platform::WebFetchOptions rest;
            rest.deadlineMs = int(lookup.remainingTime());
            platform::getJSON(
                search,
                [duration, done](std::optional<QJsonValue> results) {
                    done(chooseSearchResult(results, duration));
                },
                rest);
        },
        first);
}

} // namespace ql
