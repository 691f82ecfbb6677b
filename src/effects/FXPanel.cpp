#include "effects/FXPanel.h"

#include "effects/FXChain.h"
#include "effects/PluginEditorWindow.h"
#include "platform/PluginHost.h"
#include "playback/RateText.h"
#include "ui/BringBack.h"
#include "ui/Theme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <type_traits>

namespace ql {

namespace {

constexpr int kTenths = 10; // slider units per dB
constexpr int kPlaceOffset = 60;
const QString kEmptySlot = QStringLiteral("(비어 있음)");

QString gainText(double dB) {
    return signedFixedText(std::round(dB), 0) + QStringLiteral(" dB");
}

QCheckBox* box(const char* title) {
    return new QCheckBox(QString::fromUtf8(title));
}

} // namespace

FXPanel::FXPanel(const JSONStore& store)
    : state(store.load<FXState>(QString::fromLatin1(stores::kFX)).value_or(FXState{})),
      m_store(store), m_window(std::make_unique<QWidget>()) {
    // A file of another length keeps the user's values and plug-in states.
    fitFXLengths(state);
    build();
    syncUI();
}

FXPanel::~FXPanel() {
    // Editors go before the host their instances come from.
    m_editors.clear();
    m_closed.clear();
}

void FXPanel::build() {
    QWidget* w = m_window.get();
    w->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    w->setAttribute(Qt::WA_ShowWithoutActivating);
    w->setAttribute(Qt::WA_QuitOnClose, false); // closing only hides it
    w->setWindowTitle(QStringLiteral("🎛 사운드 효과"));
    w->resize(440, 700);

    auto* stack = new QVBoxLayout(w);
    stack->setContentsMargins(18, 18, 18, 18);
    stack->setSpacing(10);
    const auto add = [stack](auto* item) {
        if constexpr (std::is_base_of_v<QLayout, std::remove_pointer_t<decltype(item)>>)
            stack->addLayout(item);
        else
            stack->addWidget(item, 0, Qt::AlignLeft);
    };

    enableBox = box("사운드 효과 켜기");
    presetPopup = new QComboBox;
    for (const FXPreset& row : fxPresets())
        presetPopup->addItem(row.name);
    presetPopup->addItem(kCustomPreset);
    auto* first = new QHBoxLayout;
    first->setSpacing(12);
    first->addWidget(enableBox);
    first->addWidget(presetPopup);
    first->addStretch();
    add(first);
    QObject::connect(presetPopup, &QComboBox::activated, w, [this](int item) {
        const std::vector<FXPreset>& rows = fxPresets();
        // Items are matched by position: their titles may be shown in English.
        presetChosen(item < 0                  ? rows.front().name
                     : item < int(rows.size()) ? rows[std::size_t(item)].name
                                               : kCustomPreset);
    });

    for (int band = 0; band < 5; ++band) {
        auto* name = new QLabel(fxBandNames().at(band));
        name->setFixedWidth(104);
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setRange(-12 * kTenths, 12 * kTenths);
        slider->setSingleStep(kTenths);
        slider->setPageStep(3 * kTenths);
        slider->setFixedWidth(200);
        auto* value = new QLabel(QStringLiteral("0 dB"));
        value->setFixedWidth(52);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        sliders.push_back(slider);
        valueLabels.push_back(value);
        // A drag moves only the label; its release, and every discrete step
        // (a key, a wheel notch, a click on the groove), applies at once.
        QObject::connect(slider, &QSlider::valueChanged, w,
                         [this, band, slider] { sliderMoved(band, !slider->isSliderDown()); });
        QObject::connect(slider, &QSlider::sliderReleased, w,
                         [this, band] { sliderMoved(band, true); });
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->addWidget(name);
        row->addWidget(slider);
        row->addWidget(value);
        row->addStretch();
        add(row);
    }

    crossBox = box("헤드폰 크로스피드 (스테레오를 자연스럽게)");
    wideBox = box("스테레오 와이드 (소리를 넓게)");
    roomBox = box("공간감 (약한 잔향)");
    nightBox = box("야간 모드 (큰 소리 줄이고 작은 소리 키움)");
    for (QCheckBox* b : {enableBox, crossBox, wideBox, roomBox, nightBox})
        QObject::connect(b, &QCheckBox::clicked, w, [this] { boxClicked(); });
    for (QCheckBox* b : {crossBox, wideBox, roomBox, nightBox})
        add(b);

    auto* header = new QLabel(QStringLiteral("외장 플러그인 (LV2) — 위에서 아래 순서로 적용"));
    header->setFont(Theme::font(12, QFont::Bold));
    add(header);
    for (int slot = 0; slot < 3; ++slot)
        add(slotRow(slot));

    resetButton = new QPushButton(QStringLiteral("초기화"));
    QObject::connect(resetButton, &QPushButton::clicked, w, [this] { resetAll(); });
    add(resetButton);

    note = new QLabel(QStringLiteral(
        "효과를 켜면 곡을 처리해서 재생하므로 곡이 시작될 때 1~3초 걸리고(다음 곡은 미리 처리), "
        "갭리스·크로스페이드는 꺼집니다. 슬라이더는 놓을 때 적용됩니다. 💎 비트퍼펙트를 켜면 "
        "효과는 자동으로 꺼져요. 소리가 커지는 설정은 자동으로 여유를 두고 찌그러짐 방지 "
        "리미터가 걸립니다."));
    note->setWordWrap(true);
    note->setFixedWidth(380);
    note->setFont(Theme::font(11));
    QPalette dim = note->palette();
    dim.setColor(QPalette::WindowText, Theme::sub());
    note->setPalette(dim);
    add(note);
    // Hung from the top; the free room stays below.
    stack->addStretch();
}

QWidget* FXPanel::slotRow(int slot) {
    auto* row = new QWidget;
    auto* popup = new QComboBox;
    popup->setFixedWidth(300);
    auto* open = new QPushButton(QStringLiteral("설정 열기"));
    pluginPopups.push_back(popup);
    pluginButtons.push_back(open);
    // `activated` also fires for the item already shown: choosing the same
    // plug-in again starts it afresh.
    QObject::connect(popup, &QComboBox::activated, m_window.get(),
                     [this, slot](int item) { pluginChosen(slot, item); });
    QObject::connect(open, &QPushButton::clicked, m_window.get(),
                     [this, slot] { openPlugin(slot); });
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(8);
    line->addWidget(popup);
    line->addWidget(open);
    fillSlotPopups();
    return row;
}

void FXPanel::fillSlotPopups() {
    for (QComboBox* popup : pluginPopups) {
        popup->clear();
        popup->addItem(kEmptySlot);
        for (const OfferedEffect& e : installed)
            popup->addItem(e.title);
    }
}

std::optional<QString> FXPanel::chain() const {
    return fxChain(state, bypass);
}

std::vector<PluginSlot> FXPanel::activePlugins() const {
    return fxActivePlugins(state, bypass);
}

std::optional<QString> FXPanel::signature() const {
    return fxSignature(state, bypass);
}

void FXPanel::commit() {
    m_store.save(QString::fromLatin1(stores::kFX), state);
    if (onChange)
        onChange();
}

void FXPanel::syncUI() {
    enableBox->setChecked(state.enabled);
    const std::vector<FXPreset>& rows = fxPresets();
    int item = int(rows.size()); // "사용자 지정" for a name that is no row
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].name == state.preset) {
            item = int(i);
            break;
        }
    presetPopup->setCurrentIndex(item);
    for (std::size_t band = 0; band < sliders.size(); ++band) {
        const double gain = band < state.gains.size() ? state.gains[band] : 0.0;
        const QSignalBlocker quiet(sliders[band]);
        sliders[band]->setValue(int(std::lround(gain * kTenths)));
        valueLabels[band]->setText(gainText(gain));
    }
    for (std::size_t slot = 0; slot < pluginPopups.size() && slot < state.plugins.size(); ++slot) {
        const PluginSlot& s = state.plugins[slot];
        const std::optional<std::size_t> found = resolveSlot(installed, s);
        // A plug-in no longer installed shows as empty but keeps its slot,
        // and its editor can still be tried.
        pluginPopups[slot]->setCurrentIndex(found ? int(*found) + 1 : 0);
        pluginButtons[slot]->setEnabled(!s.name.isEmpty());
    }
    crossBox->setChecked(state.crossfeed);
    wideBox->setChecked(state.wide);
    roomBox->setChecked(state.room);
    nightBox->setChecked(state.night);
}

void FXPanel::toggle() {
    QWidget* w = m_window.get();
    if (w->isVisible()) {
        w->hide();
        return;
    }
    QPoint place(kPlaceOffset, kPlaceOffset);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        place += screen->availableGeometry().topLeft();
    w->move(place);
    w->show();
}

void FXPanel::setHost(std::shared_ptr<platform::PluginHost> host) {
    m_host = std::move(host);
    installed = m_host ? m_host->installedEffects() : std::vector<OfferedEffect>{};
    fillSlotPopups();
    syncUI();
}

void FXPanel::presetChosen(const QString& title) {
    choosePreset(state, title);
    syncUI();
    commit();
}

void FXPanel::slidersApplied(const std::array<double, 5>& values) {
    setGains(state, values);
    syncUI();
    commit();
}

void FXPanel::changed(const FXSwitches& boxes) {
    setSwitches(state, boxes);
    syncUI();
    commit();
}

void FXPanel::resetAll() {
    state = FXState();
    syncUI();
    commit();
}

void FXPanel::sliderMoved(int band, bool apply) {
    valueLabels[std::size_t(band)]->setText(
        gainText(double(sliders[std::size_t(band)]->value()) / kTenths));
    if (!apply)
        return;
    std::array<double, 5> values{};
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = double(sliders[i]->value()) / kTenths;
    slidersApplied(values);
}

void FXPanel::boxClicked() {
    changed({enableBox->isChecked(), crossBox->isChecked(), wideBox->isChecked(),
             roomBox->isChecked(), nightBox->isChecked()});
}

void FXPanel::pluginChosen(int slot, int item) {
    const int k = item - 1;
    chooseSlot(state, std::size_t(slot),
               k >= 0 && k < int(installed.size()) ? &installed[std::size_t(k)] : nullptr);
    syncUI();
    commit();
}

void FXPanel::openPlugin(int slot) {
    if (slot < 0 || std::size_t(slot) >= state.plugins.size())
        return;
    const PluginSlot s = state.plugins[std::size_t(slot)];
    if (s.name.isEmpty())
        return;
    if (PluginEditorWindow* open = editorWindow(slot)) {
        // A minimised editor comes back too.
        bringBack(open);
        return;
    }
    // Made here, on the main thread, before anything else runs: a second
    // click cannot start a second editor for the slot.
    if (!m_host)
        return;
    std::unique_ptr<platform::PluginEditor> editor = m_host->openEditor(s);
    if (!editor)
        return;
    auto window = std::make_unique<PluginEditorWindow>(s.name, PluginCodes{s.type, s.sub, s.man},
                                                       std::move(editor));
    window->onClose = [this, slot] { windowWillClose(slot); };
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    bringBack(window.get());
    m_editors[slot] = std::move(window);
}

PluginEditorWindow* FXPanel::editorWindow(int slot) const {
    const auto found = m_editors.find(slot);
    return found == m_editors.end() ? nullptr : found->second.get();
}

void FXPanel::windowWillClose(int slot) {
    const auto found = m_editors.find(slot);
    if (found == m_editors.end())
        return;
    std::unique_ptr<PluginEditorWindow> window = std::move(found->second);
    m_editors.erase(found);
    if (storeEditedState(state, std::size_t(slot), window->codes(), window->editor().state())) {
        syncUI();
        commit();
    }
    // The window is still inside its close: it goes once that returns.
    m_closed.push_back(std::move(window));
    QTimer::singleShot(0, m_window.get(), [this] { m_closed.clear(); });
}

} // namespace ql
