#include "ui/Symbol.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QSvgRenderer>

#include <cmath>
#include <map>
#include <utility>

namespace ql {

namespace {

constexpr double kMaxSize = 512;

bool isSymbolName(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[a-z0-9]+(\\.[a-z0-9]+)*$"));
    return plain.match(name).hasMatch();
}

double strokeFactor(SymbolWeight weight) {
    switch (weight) {
    case SymbolWeight::Semibold:
        return 1.2;
    case SymbolWeight::Bold:
        return 1.4;
    case SymbolWeight::Regular:
        break;
    }
    return 1.0;
}

// The drawings give their stroke widths as plain attributes; a heavier weight
// widens each of them by the same factor (fills stay as drawn).
QByteArray weighted(const QByteArray& svg, SymbolWeight weight) {
    const double factor = strokeFactor(weight);
    if (factor == 1.0)
        return svg;
    static const QRegularExpression width(QStringLiteral("stroke-width=\"([0-9.]+)\""));
    const QString text = QString::fromUtf8(svg);
    QString out;
    qsizetype last = 0;
    for (auto it = width.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        out +=
            QStringLiteral("stroke-width=\"%1\"").arg(m.captured(1).toDouble() * factor, 0, 'g', 4);
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out.toUtf8();
}

} // namespace

Symbol::Symbol(QString name, double size, SymbolWeight weight, std::shared_ptr<QSvgRenderer> svg)
    : m_name(std::move(name)), m_size(size), m_weight(weight), m_svg(std::move(svg)) {}

QSize Symbol::size() const {
    const int edge = std::max(1, int(std::lround(m_size)));
    return {edge, edge};
}

QPixmap Symbol::pixmap(const QColor& tint, double devicePixelRatio) const {
    const double dpr = std::isfinite(devicePixelRatio) && devicePixelRatio > 0
                           ? std::min(devicePixelRatio, 8.0)
                           : 1.0;
    const QSize px = size() * dpr;
    QImage image(px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        m_svg->render(&p, QRectF(QPointF(0, 0), QSizeF(px)));
        // Keep the drawing's coverage, take the tint's colour.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(image.rect(), tint);
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

void Symbol::paint(QPainter& painter, const QRectF& rect, const QColor& tint) const {
    const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    painter.drawPixmap(rect, pixmap(tint, dpr), QRectF());
}

std::optional<Symbol> sym(const QString& name, double size, SymbolWeight weight) {
    if (!isSymbolName(name) || !std::isfinite(size) || size <= 0 || size > kMaxSize)
        return std::nullopt;
    // Each drawing is parsed once per thread and weight: buttons change
    // their symbol on every track change and state flip, and parsing it
    // again there costs more than the rest of the change. A renderer is a
    // QObject, so it is never shared between threads.
    thread_local std::map<std::pair<QString, SymbolWeight>, std::shared_ptr<QSvgRenderer>> parsed;
    const std::pair key{name, weight};
    if (const auto known = parsed.find(key); known != parsed.end())
        return Symbol(name, size, weight, known->second);
    QFile file(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    auto svg = std::make_shared<QSvgRenderer>(weighted(file.readAll(), weight));
    if (!svg->isValid())
        return std::nullopt;
    parsed.emplace(key, svg);
    return Symbol(name, size, weight, std::move(svg));
}

} // namespace ql
