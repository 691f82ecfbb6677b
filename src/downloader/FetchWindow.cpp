// The downloader's window: the form, the mode and browser choices, showing it,
// the chart preset and the hand-over of one track.
#include "downloader/FlacFetcher.h"

#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/BringBack.h"
#include "ui/l10n/L10n.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace ql {

namespace {

constexpr int kCaptionWidth = 56;
const std::array<QString, 3> kBrowserIds{QStringLiteral("aside"), QStringLiteral("chrome"),
                                         QStringLiteral("firefox")};

// Hidden, never deleted, on close; the fetcher hears of it first.
class FetchWindow final : public QWidget {
public:
    std::function<void()> onClose;

protected:
    void closeEvent(QCloseEvent* event) override {
        if (onClose)
            onClose();
        QWidget::closeEvent(event);
    }
};

QString stored(const char* key, const char* fallback) {
    return UserDefaults().string(key).value_or(QString::fromLatin1(fallback));
}

// Shown in the interface language at once; every caption takes the width the
// longest of them needs (at least kCaptionWidth), so the fields line up and
// no caption touches its field.
QLabel* caption(const char* text, QWidget* parent) {
    auto* label = new QLabel(L10n::tr(QString::fromUtf8(text)), parent);
    int width = kCaptionWidth;
    for (const char* each : {"방식", "가수", "곡 수", "앨범명", "곡 제목"})
        width = std::max(width,
                         label->fontMetrics().horizontalAdvance(L10n::tr(QString::fromUtf8(each))) +
                             2 * label->margin() + label->indent() + 4);
    label->setFixedWidth(width);
    return label;
}

QHBoxLayout* labeledRow(QLabel* label, QWidget* control) {
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(label);
    row->addWidget(control, 1);
    return row;
}

} // namespace

FlacFetcher::FlacFetcher(FetchFolders folders) : m_folders(std::move(folders)) {
    build();
}

FlacFetcher::~FlacFetcher() {
    // The process is a child of this object and goes with it; the window is
    // a top-level widget without a parent. The preview's decoder ends with
    // its player.
    previewPlayer.reset();
    delete m_window;
}

void FlacFetcher::build() {
    auto* window = new FetchWindow;
    window->onClose = [this] { windowWillClose(); };
    m_window = window;
    window->setObjectName(QStringLiteral("flacFetchWindow"));
    window->setWindowTitle(QStringLiteral("FLAC 받기"));
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->resize(580, 560);
    // Room for every row at the smallest size in either language, a hint
    // of three lines included: the log gives way down to its own minimum.
    window->setMinimumSize(480, 460);

    auto* heading = new QLabel(QStringLiteral("FLAC 받기"), window);
    QFont headingFont = heading->font();
    headingFont.setPixelSize(22);
    headingFont.setWeight(QFont::DemiBold);
    heading->setFont(headingFont);
    auto* description = new QLabel(
        QStringLiteral("Aside, Chrome 또는 Firefox에서 FLAC를 받습니다. 저장되는 곡은 바로 목록에 "
                       "추가되고, 끝나면 음원을 다시 찾습니다."),
        window);
    description->setWordWrap(true);
    QFont small = description->font();
    small.setPixelSize(11);
    description->setFont(small);
    description->setForegroundRole(QPalette::PlaceholderText);

    mode = new QButtonGroup(window);
    mode->setExclusive(true);
    auto* segmentBox = new QWidget(window);
    auto* segments = new QHBoxLayout(segmentBox);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    const QStringList names{QStringLiteral("인기곡"), QStringLiteral("앨범"),
                            QStringLiteral("단일 곡"), QStringLiteral("전체")};
    for (int i = 0; i < names.size(); ++i) {
        auto* segment = new QPushButton(names[i], segmentBox);
        segment->setCheckable(true);
        segment->setObjectName(QStringLiteral("mode%1").arg(i));
        mode->addButton(segment, i);
        segments->addWidget(segment);
    }
    segments->addStretch(1);
    // The chosen segment stands out from the other three.
    connect(mode, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        QFont font = mode->button(id)->font();
        font.setBold(checked);
        mode->button(id)->setFont(font);
    });
    mode->button(0)->setChecked(true);
    connect(mode, &QButtonGroup::idClicked, this, [this] { modeChanged(); });

    browserPopup = new QComboBox(window);
    browserPopup->setObjectName(QStringLiteral("browserPopup"));
    browserPopup->addItems(
        {QStringLiteral("Aside"), QStringLiteral("Chrome"), QStringLiteral("Firefox")});
    const QString browser = stored(keys::kFlacBrowser, "aside");
    const auto found = std::find(kBrowserIds.begin(), kBrowserIds.end(), browser);
    browserPopup->setCurrentIndex(found == kBrowserIds.end() ? 0
                                                             : int(found - kBrowserIds.begin()));
    connect(browserPopup, &QComboBox::activated, this, [this] { browserChanged(); });

    artistField = new QLineEdit(window);
    artistField->setObjectName(QStringLiteral("artistField"));
    artistField->setPlaceholderText(QStringLiteral("가수 이름 (예: Queen)"));
    valueField = new QLineEdit(stored(keys::kFlacCount, "30"), window);
    valueField->setObjectName(QStringLiteral("valueField"));
    valueField->setPlaceholderText(L10n::tr(QStringLiteral("1~300")));
    valueLabel = caption("곡 수", window);
    valueLabel->setObjectName(QStringLiteral("valueLabel"));

    startButton = new QPushButton(QStringLiteral("받기 시작"), window);
    startButton->setObjectName(QStringLiteral("startButton"));
    connect(startButton, &QPushButton::clicked, this, &FlacFetcher::startFetch);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), window);
        connect(shortcut, &QShortcut::activated, this, &FlacFetcher::startFetch);
    }
    previewButton = new QPushButton(QStringLiteral("▶ 30초 미리듣기"), window);
    previewButton->setObjectName(QStringLiteral("previewButton"));
    previewButton->setToolTip(
        QStringLiteral("iTunes 30초 미리듣기로 검색어가 맞는지 확인합니다. 다시 누르면 다음 후보"));
    connect(previewButton, &QPushButton::clicked, this, &FlacFetcher::previewTapped);
    stopButton = new QPushButton(QStringLiteral("중지"), window);
    stopButton->setObjectName(QStringLiteral("stopButton"));
    connect(stopButton, &QPushButton::clicked, this, &FlacFetcher::stopFetch);

    spinner = new QProgressBar(window);
    spinner->setRange(0, 0); // busy: no known end
    spinner->setTextVisible(false);
    spinner->setMaximumWidth(60);
    summary = new QLabel(QStringLiteral("대기 중"), window);
    summary->setObjectName(QStringLiteral("summary"));
    QFont summaryFont = summary->font();
    summaryFont.setPixelSize(12);
    summary->setFont(summaryFont);
    summary->setForegroundRole(QPalette::PlaceholderText);
    // A hint can be longer than the window is wide, in either language: it
    // wraps on its own line rather than running under the buttons.
    summary->setWordWrap(true);

    logView = new QPlainTextEdit(window);
    logView->setObjectName(QStringLiteral("logView"));
    logView->setReadOnly(true);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(11);
    logView->setFont(mono);
    logView->setMinimumHeight(100);
    setRunning(false);

    auto* progress = new QHBoxLayout;
    progress->setSpacing(10);
    progress->addWidget(spinner);
    progress->addWidget(summary, 1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addStretch(1);
    buttons->addWidget(previewButton);
    buttons->addWidget(stopButton);
    buttons->addWidget(startButton);

    auto* valueRow = labeledRow(valueLabel, valueField);
    auto* main = new QVBoxLayout(window);
    main->setSpacing(12);
    main->setContentsMargins(20, 20, 20, 20);
    main->addWidget(heading, 0, Qt::AlignLeft);
    main->addWidget(description);
    main->addLayout(labeledRow(caption("방식", window), segmentBox));
    main->addLayout(labeledRow(caption("가수", window), artistField));
    main->addLayout(valueRow);
    main->addWidget(browserPopup, 0, Qt::AlignLeft);
    main->addWidget(logView, 1);
    main->addLayout(progress);
    main->addLayout(buttons);
}

void FlacFetcher::setRunning(bool running) {
    startButton->setEnabled(!running);
    stopButton->setEnabled(running);
    spinner->setVisible(running);
}

int FlacFetcher::selectedMode() const {
    return mode->checkedId();
}

QString FlacFetcher::browserId() const {
    return kBrowserIds[std::size_t(std::clamp(browserPopup->currentIndex(), 0, 2))];
}

void FlacFetcher::modeChanged() {
    switch (selectedMode()) {
    case 0:
        valueLabel->setText(L10n::tr(QStringLiteral("곡 수")));
        valueField->setPlaceholderText(L10n::tr(QStringLiteral("1~300")));
        valueField->setText(stored(keys::kFlacCount, "30"));
        break;
    case 1:
        valueLabel->setText(L10n::tr(QStringLiteral("앨범명")));
        valueField->setPlaceholderText(
            L10n::tr(QStringLiteral("앨범명만 써도 가수·수록곡을 자동 조사")));
        valueField->clear();
        break;
    case 3:
        valueLabel->setText(L10n::tr(QStringLiteral("곡 수")));
        valueField->setPlaceholderText(L10n::tr(QStringLiteral("받을 곡 수 (1~300)")));
        valueField->setText(stored(keys::kFlacAllCount, "10"));
        break;
    default:
        valueLabel->setText(L10n::tr(QStringLiteral("곡 제목")));
        valueField->setPlaceholderText(L10n::tr(QStringLiteral("정확한 곡 제목")));
        valueField->clear();
        break;
    }
}

void FlacFetcher::browserChanged() {
    UserDefaults().set(keys::kFlacBrowser, browserId());
}

void FlacFetcher::show() {
    if (!centered) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = m_window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
        centered = true;
    }
    // A minimised window comes back too.
    bringBack(m_window);
}

void FlacFetcher::runMelon(int count) {
    show();
    if (process) {
        summary->setText(QStringLiteral("이미 받는 중입니다. 끝난 뒤 다시 눌러 주세요."));
        return;
    }
    presetArgs =
        QStringList{QStringLiteral("--melon"), QStringLiteral("--limit"), QString::number(count)};
    startFetch();
}

void FlacFetcher::prefillSong(const QString& artist, const QString& title) {
    mode->button(2)->setChecked(true);
    modeChanged();
    artistField->setText(artist);
    valueField->setText(title);
    show();
    summary->setText(QStringLiteral("'받기 시작'을 누르면 이 곡을 FLAC로 받습니다."));
}

// A running download goes on and nothing is cleared.
void FlacFetcher::windowWillClose() {
    pausePreview();
}

} // namespace ql
