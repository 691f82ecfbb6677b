#include "listening/NowPlayingWindow.h"

#include "analysis/WaveformView.h"
#include "ui/BringBack.h"
#include "ui/ClickImageView.h"
#include "ui/Theme.h"
#include "ui/TruncatingLabel.h"
#include "ui/l10n/Translator.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace ql {

namespace {

constexpr int kWidth = 560;
constexpr int kHeight = 800;
constexpr int kMinWidth = 420;
constexpr int kMinHeight = 600;
// Cover, title and waveform leave this much of the column's width free, half
// on each side, so the large cover never touches the window's edges.
constexpr int kNarrower = 64;
constexpr int kWaveHeight = 54;
constexpr int kCoverRadius = 10;
const double kBackground = 0.07; // white level

// The cover's place in the column: it takes the height the other rows leave
// (the only row that stretches, so it is the one that gives up height) and
// shows the cover as the largest square that fits that height and the
// column less 64, centred.
class CoverSlot final : public QWidget {
public:
    explicit CoverSlot(ClickImageView* cover) : m_cover(cover) {
        cover->setParent(this);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    QSize sizeHint() const override { return {0, 0}; }
    QSize minimumSizeHint() const override { return {0, 0}; }

protected:
    void resizeEvent(QResizeEvent*) override {
        const int side = std::max(0, std::min(width() - kNarrower, height()));
        m_cover->setGeometry((width() - side) / 2, (height() - side) / 2, side, side);
    }

private:
    ClickImageView* m_cover;
};

// A view inset by half of kNarrower on each side: exactly the column less 64.
QWidget* narrowed(QWidget* view) {
    auto* holder = new QWidget;
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(kNarrower / 2, 0, kNarrower / 2, 0);
    row->addWidget(view);
    return holder;
}

void setColor(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::ButtonText, color);
    w->setPalette(p);
}

QLabel* label(int points, QFont::Weight weight, const QColor& color) {
    // Text beyond the width is cut with "…" rather than widening the window.
    auto* l = new TruncatingLabel(1);
    l->setFont(Theme::font(points, weight));
    l->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    setColor(l, color);
    return l;
}

QPushButton* glyphButton(const QString& glyph, int points) {
    auto* b = new QPushButton(glyph);
    b->setFlat(true);
    b->setFont(Theme::font(points));
    b->setFocusPolicy(Qt::NoFocus);
    b->setCursor(Qt::PointingHandCursor);
    setColor(b, Qt::white);
    return b;
}

} // namespace

NowPlayingWindow::NowPlayingWindow() : window(std::make_unique<QWidget>(nullptr, Qt::Window)) {
    QWidget* w = window.get();
    w->setWindowTitle(QStringLiteral("지금 재생 중"));
    w->setAttribute(Qt::WA_QuitOnClose, false);
    w->setMinimumSize(kMinWidth, kMinHeight);
    w->resize(kWidth, kHeight);
    QPalette dark = Theme::palette();
    dark.setColor(QPalette::Window, Theme::grey(kBackground));
    w->setPalette(dark);
    w->setAutoFillBackground(true);

    art = new ClickImageView;
    art->setCornerRadius(kCoverRadius);
    titleLabel = label(24, QFont::Bold, Qt::white);
    artistLabel = label(15, QFont::Normal, Theme::sub());
    infoLabel = label(12, QFont::Normal, Theme::dim());
    dacLabel = label(12, QFont::Normal, Theme::dim());
    // Qt 6.4 has no monospaced-digit feature for the system font; the
    // transport bar's time labels make the same choice.
    timeLabel = new QLabel(QStringLiteral("0:00 / 0:00"));
    timeLabel->setFont(Theme::font(12));
    timeLabel->setAlignment(Qt::AlignHCenter);
    setColor(timeLabel, Theme::sub());
    for (QLabel* l : {titleLabel, artistLabel, infoLabel, dacLabel, timeLabel})
        l->setTextFormat(Qt::PlainText);
    for (QWidget* v : std::initializer_list<QWidget*>{titleLabel, artistLabel, infoLabel})
        Translator::exempt(v);
    wave = new WaveformView;
    wave->setFixedHeight(kWaveHeight);

    favButton = glyphButton(QStringLiteral("♡"), 24);
    prevButton = glyphButton(QStringLiteral("⏮"), 26);
    playButton = glyphButton(QStringLiteral("▶"), 38);
    nextButton = glyphButton(QStringLiteral("⏭"), 26);
    const auto relay = [w](QPushButton* b, const std::function<void()>& callback) {
        QObject::connect(b, &QPushButton::clicked, w, [&callback] {
            if (callback)
                callback();
        });
    };
    relay(favButton, onFav);
    relay(prevButton, onPrev);
    relay(playButton, onToggle);
    relay(nextButton, onNext);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(28);
    controls->addStretch(1);
    for (QPushButton* b : {favButton, prevButton, playButton, nextButton})
        controls->addWidget(b, 0, Qt::AlignVCenter);
    controls->addStretch(1);

    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(32, 28, 32, 24);
    column->setSpacing(10);
    column->addWidget(new CoverSlot(art), 1);
    column->addWidget(narrowed(titleLabel));
    column->addWidget(artistLabel);
    column->addWidget(infoLabel);
    column->addWidget(narrowed(wave));
    column->addWidget(timeLabel);
    column->addLayout(controls);
    column->addWidget(dacLabel);
}

NowPlayingWindow::~NowPlayingWindow() = default;

bool NowPlayingWindow::visible() const {
    return window->isVisible();
}

void NowPlayingWindow::toggle(QScreen* screen) {
    QWidget* w = window.get();
    // A minimised window counts as visible: it comes back instead.
    if (visible() && !w->isMinimized()) {
        w->hide();
        return;
    }
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = w->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        w->move(frame.topLeft());
    }
    bringBack(w);
}

} // namespace ql
