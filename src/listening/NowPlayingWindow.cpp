#include "listening/NowPlayingWindow.h"

#include "analysis/WaveformView.h"
#include "ui/ClickImageView.h"
#include "ui/l10n/Translator.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ql {

NowPlayingWindow::NowPlayingWindow() : window(std::make_unique<QWidget>(nullptr, Qt::Window)) {
    art = new ClickImageView;
    art->setFixedSize(240, 240);
    titleLabel = new QLabel;
    artistLabel = new QLabel;
    infoLabel = new QLabel;
    dacLabel = new QLabel;
    timeLabel = new QLabel(QStringLiteral("0:00 / 0:00"));
    wave = new WaveformView;
    playButton = new QPushButton(QStringLiteral("▶"));
    favButton = new QPushButton(QStringLiteral("♡"));
    // Titles and names are shown as written, never as markup, and never run
    // through the translation pass.
    for (QLabel* label : {titleLabel, artistLabel, infoLabel, dacLabel, timeLabel})
        label->setTextFormat(Qt::PlainText);
    for (QWidget* w : std::initializer_list<QWidget*>{titleLabel, artistLabel, infoLabel})
        Translator::exempt(w);
    QObject::connect(playButton, &QPushButton::clicked, window.get(), [this] {
        if (onToggle)
            onToggle();
    });
    QObject::connect(favButton, &QPushButton::clicked, window.get(), [this] {
        if (onFav)
            onFav();
    });

    auto* column = new QVBoxLayout(window.get());
    column->addWidget(art, 0, Qt::AlignHCenter);
    for (QLabel* label : {titleLabel, artistLabel, infoLabel, dacLabel}) {
        label->setAlignment(Qt::AlignHCenter);
        column->addWidget(label);
    }
    column->addWidget(wave);
    timeLabel->setAlignment(Qt::AlignHCenter);
    column->addWidget(timeLabel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(playButton);
    buttons->addWidget(favButton);
    buttons->addStretch();
    column->addLayout(buttons);
}

NowPlayingWindow::~NowPlayingWindow() = default;

bool NowPlayingWindow::visible() const {
    return window->isVisible();
}

} // namespace ql
