#include "effects/PluginEditorWindow.h"

#include "ui/l10n/Translator.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

bool usableRange(const platform::PluginControl& c) {
    return std::isfinite(c.minimum) && std::isfinite(c.maximum) && c.minimum < c.maximum;
}

bool logScale(const platform::PluginControl& c) {
    return c.logarithmic && c.minimum > 0;
}

QString valueText(float value) {
    return QString::asprintf("%.3g", double(value));
}

// The labelled value nearest to `value`.
int nearestPoint(const platform::PluginControl& c, float value) {
    int best = 0;
    for (int i = 1; i < int(c.scalePoints.size()); ++i)
        if (std::abs(c.scalePoints[std::size_t(i)].first - value) <
            std::abs(c.scalePoints[std::size_t(best)].first - value))
            best = i;
    return best;
}

} // namespace

PluginEditorWindow::PluginEditorWindow(const QString& title, PluginCodes codes,
                                       std::unique_ptr<platform::PluginEditor> editor)
    : m_codes(codes), m_editor(std::move(editor)) {
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    // Closing the last editor must never end the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(title);
    if (!showOwnInterface())
        buildGeneric();
}

PluginEditorWindow::~PluginEditorWindow() = default;

bool PluginEditorWindow::showOwnInterface() {
    // An X11 interface needs an X11 window to live in.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    auto* holder = new QWidget(this);
    holder->setAttribute(Qt::WA_NativeWindow);
    m_view = m_editor->openView(std::uintptr_t(holder->winId()));
    if (!m_view) {
        delete holder;
        return false;
    }
    m_holder = holder;
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    outer->addWidget(holder);
    const auto fit = [holder](QSize size) {
        holder->setFixedSize(size.isValid() ? size : QSize(560, 380));
    };
    fit(m_view->size());
    m_view->onResize = fit;
    adjustSize();
    m_idle = new QTimer(this);
    m_idle->setInterval(kIdleMs);
    connect(m_idle, &QTimer::timeout, this, [this] {
        if (!m_view->idle())
            close();
    });
    return true;
}

void PluginEditorWindow::buildGeneric() {
    resize(560, 380);
    auto* content = new QWidget;
    // Names, units and labels are the plug-in's own words.
    Translator::exempt(content);
    auto* form = new QFormLayout(content);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    for (const platform::PluginControl& c : m_editor->controls()) {
        if (c.notOnGui)
            continue;
        auto* name = new QLabel(c.unit.isEmpty()
                                    ? c.name
                                    : c.name + QStringLiteral(" (") + c.unit + QStringLiteral(")"));
        name->setTextFormat(Qt::PlainText);
        QWidget* field = makeRow(c);
        field->setEnabled(usableRange(c));
        form->addRow(name, field);
    }
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
}

float PluginEditorWindow::valueAt(const platform::PluginControl& c, int step) {
    const double t = double(std::clamp(step, 0, kSteps)) / kSteps;
    if (logScale(c))
        return float(c.minimum * std::pow(double(c.maximum) / c.minimum, t));
    return float(c.minimum + (double(c.maximum) - c.minimum) * t);
}

int PluginEditorWindow::stepOf(const platform::PluginControl& c, float value) {
    if (!usableRange(c) || !std::isfinite(value))
        return 0;
    const double v = std::clamp(double(value), double(c.minimum), double(c.maximum));
    const double t = logScale(c) ? std::log(v / c.minimum) / std::log(double(c.maximum) / c.minimum)
                                 : (v - c.minimum) / (double(c.maximum) - c.minimum);
    return int(std::lround(t * kSteps));
}

QWidget* PluginEditorWindow::makeRow(const platform::PluginControl& c) {
    platform::PluginEditor* editor = m_editor.get();
    const int index = c.index;
    const float now = editor->value(index).value_or(c.defaultValue);
    if (c.toggled) {
        auto* box = new QCheckBox;
        box->setChecked(now > 0);
        connect(box, &QCheckBox::clicked, this,
                [editor, index](bool on) { editor->setValue(index, on ? 1.0f : 0.0f); });
        return box;
    }
    if (c.enumeration && !c.scalePoints.empty()) {
        auto* popup = new QComboBox;
        for (const auto& [value, label] : c.scalePoints)
            popup->addItem(label);
        popup->setCurrentIndex(nearestPoint(c, now));
        connect(popup, &QComboBox::activated, this, [editor, index, points = c.scalePoints](int i) {
            if (i >= 0 && i < int(points.size()))
                editor->setValue(index, points[std::size_t(i)].first);
        });
        return popup;
    }
    if (c.integer) {
        auto* spin = new QSpinBox;
        if (usableRange(c))
            spin->setRange(int(std::ceil(c.minimum)), int(std::floor(c.maximum)));
        spin->setValue(int(std::lround(now)));
        connect(spin, &QSpinBox::valueChanged, this,
                [editor, index](int v) { editor->setValue(index, float(v)); });
        return spin;
    }
    auto* row = new QWidget;
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, kSteps);
    slider->setValue(stepOf(c, now));
    auto* label = new QLabel(valueText(now));
    label->setMinimumWidth(56);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(slider, &QSlider::valueChanged, this, [editor, label, c](int step) {
        const float v = valueAt(c, step);
        editor->setValue(c.index, v);
        label->setText(valueText(v));
    });
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(slider, 1);
    line->addWidget(label);
    return row;
}

void PluginEditorWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_idle)
        m_idle->start();
}

void PluginEditorWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (m_idle)
        m_idle->stop();
}

void PluginEditorWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (m_idle)
        m_idle->stop();
    if (m_closed)
        return;
    m_closed = true;
    if (onClose)
        onClose();
}

} // namespace ql
