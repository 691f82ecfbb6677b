#include "analysis/AudioScanPanel.h"

#include "analysis/BandPlot.h"
#include "analysis/ScanColors.h"
#include "app/Delivery.h"
#include "platform/UserFiles.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace ql {

namespace {

const char* const kRowNames[] = {"예상 품질", "감지된 품질", "비트 깊이", "대역폭",
                                 "잡음 바닥", "채널",        "DC 문제"};

QLabel* plainLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

AudioScanPanel::AudioScanPanel() : m_window(std::make_unique<QWidget>()) {
    QWidget* w = m_window.get();
    w->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    w->setAttribute(Qt::WA_ShowWithoutActivating);
    w->setWindowTitle(QStringLiteral("🔬 음질 분석 (AudioScan)"));
    w->resize(760, 420);

    m_spectrum = new BandPlot;
    m_spectrum->setFixedSize(440, 300);
    m_title = plainLabel({});
    m_title->setFont(Theme::font(13, QFont::DemiBold));
    Translator::exempt(m_title); // artist and title from the library

    auto* column = new QVBoxLayout;
    column->setSpacing(10);
    // The names in the interface language, in a column as wide as the
    // longest needs (at least 80).
    QList<QLabel*> names;
    int nameWidth = 80;
    for (const char* name : kRowNames) {
        names << plainLabel(L10n::tr(QString::fromUtf8(name)));
        nameWidth = std::max(nameWidth, names.last()->sizeHint().width());
    }
    for (QLabel* nameLabel : names) {
        QPalette dim = nameLabel->palette();
        dim.setColor(QPalette::WindowText, Theme::sub());
        nameLabel->setPalette(dim);
        nameLabel->setFixedWidth(nameWidth);
        QLabel* value = plainLabel(QStringLiteral("…"));
        value->setFont(Theme::font(12, QFont::Medium));
        m_values.push_back(value);
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->addWidget(nameLabel);
        row->addWidget(value);
        row->addStretch();
        column->addLayout(row);
    }
    m_verdict = plainLabel({});
    m_verdict->setFont(Theme::font(12));
    m_verdict->setWordWrap(true);
    m_verdict->setMaximumWidth(250);
    m_verdictPalette = m_verdict->palette();
    column->addWidget(m_verdict);
    column->addStretch();

    auto* body = new QHBoxLayout;
    body->setSpacing(18);
    body->addWidget(m_spectrum, 0, Qt::AlignTop);
    body->addLayout(column);
    // The content hangs from the top; the free room stays below it.
    auto* outer = new QVBoxLayout(w);
    outer->setContentsMargins(16, 16, 16, 16);
    outer->setSpacing(12);
    outer->addWidget(m_title);
    outer->addLayout(body);
    outer->addStretch();
}

AudioScanPanel::~AudioScanPanel() = default;

void AudioScanPanel::show(const Track& track) {
    ++m_generation;
    m_title->setText(track.artist.isEmpty() ? track.title
                                            : track.artist + QStringLiteral(" – ") + track.title);
    for (QLabel* value : m_values)
        value->setText(QStringLiteral("분석 중…"));
    // A failure after a success must not wear the success's colour.
    m_verdict->setPalette(m_verdictPalette);
    m_verdict->setText({});
    m_spectrum->setCurve({});

    QWidget* w = m_window.get();
    if (!w->isVisible()) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            w->move(screen->availableGeometry().center() - w->rect().center());
    }
    w->show();
    w->raise();

    // The window goes with the panel: while it is there, so is the panel.
    const Delivery delivery(w, m_generation);
    // Read by the file's reader; a file refused as slow is told as unread.
    const bool asked = platform::UserFiles::read(
        track.path,
        [this, delivery, run = analyze, path = track.path](const platform::UserFiles::Touch&) {
            std::optional<ScanResult> result = run ? run(path) : std::nullopt;
            delivery.post([this, result = std::move(result)](QWidget&) { apply(result); });
        });
    if (!asked)
        delivery.post([this](QWidget&) { apply(std::nullopt); });
}

void AudioScanPanel::apply(const std::optional<ScanResult>& result) {
    if (!result) {
        for (QLabel* value : m_values)
            value->setText(QStringLiteral("-"));
        m_verdict->setText(QStringLiteral("분석하지 못했습니다(너무 짧거나 읽을 수 없는 파일)."));
        return;
    }
    const ScanResult& r = *result;
    m_spectrum->setRate(r.rate);
    m_spectrum->setCutoff(r.cutoff);
    m_spectrum->setCurve(r.curve);
    const QString texts[] = {r.expected, r.detected, r.bitdepth,           r.bandwidth,
                             r.noise,    r.channels, QString::number(r.dc)};
    for (std::size_t i = 0; i < m_values.size(); ++i)
        m_values[i]->setText(texts[i]);
    QPalette colour = m_verdictPalette;
    colour.setColor(QPalette::WindowText, r.good ? scanColors::green() : scanColors::orange());
    m_verdict->setPalette(colour);
    m_verdict->setText(r.verdict);
}

} // namespace ql
