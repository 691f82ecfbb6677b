#include "playback/SignalPathPanel.h"

#include "ui/Theme.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace ql {

namespace {

QLabel* label(const QString& text, const QFont& font, const QColor& colour) {
    auto* l = new QLabel(text);
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
    return l;
}

} // namespace

SignalPathPanel::SignalPathPanel() : m_window(std::make_unique<QWidget>()) {
    QWidget& w = *m_window;
    w.setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    w.setAttribute(Qt::WA_QuitOnClose, false);
    w.setWindowTitle(L10n::tr(QStringLiteral("🧩 신호 경로")));
    w.setFixedSize(560, 470);
    // Every text is set already translated, with device and plug-in names as
    // they are: the translation pass must not touch a Korean device name.
    Translator::exempt(&w);

    auto* outer = new QVBoxLayout(&w);
    outer->setSpacing(14);
    outer->setContentsMargins(16, 16, 16, 16);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(8);
    outer->addLayout(m_rows);
    m_verdict = label({}, Theme::font(13, QFont::DemiBold), Theme::green());
    m_verdict->setWordWrap(true);
    m_verdict->setFixedWidth(520);
    outer->addWidget(m_verdict);
    outer->addStretch(1);
}

SignalPathPanel::~SignalPathPanel() = default;

bool SignalPathPanel::visible() const {
    return m_window->isVisible();
}

void SignalPathPanel::toggle(const std::function<SignalPathReport()>& data) {
    if (visible()) {
        m_window->hide();
        return;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    m_window->show();
    m_window->raise();
    refresh(data());
}

void SignalPathPanel::refresh(const SignalPathReport& report) {
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        if (QLayout* row = item->layout()) {
            while (QLayoutItem* cell = row->takeAt(0)) {
                delete cell->widget();
                delete cell;
            }
        }
        delete item;
    }
    const QColor text = m_window->palette().color(QPalette::WindowText);
    for (const SignalPathRow& r : report.rows) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->setAlignment(Qt::AlignTop);
        QLabel* marker = label(r.engaged ? QStringLiteral("●") : QStringLiteral("○"),
                               Theme::font(12), r.engaged ? Theme::green() : Theme::dim());
        marker->setFixedWidth(16);
        QLabel* name = label(r.label, Theme::font(12, QFont::DemiBold), text);
        name->setFixedWidth(92);
        name->setWordWrap(true); // the English names are longer than the Korean
        QLabel* value = label(r.value, Theme::font(12), r.engaged ? text : Theme::sub());
        value->setWordWrap(true);
        value->setFixedWidth(390);
        for (QLabel* cell : {marker, name, value}) {
            cell->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            row->addWidget(cell, 0, Qt::AlignTop);
        }
        row->addStretch(1);
        m_rows->addLayout(row);
    }
    m_verdict->setText(report.verdict);
    QPalette p = m_verdict->palette();
    p.setColor(QPalette::WindowText, report.ok ? Theme::green() : Theme::orange());
    m_verdict->setPalette(p);
}

} // namespace ql
