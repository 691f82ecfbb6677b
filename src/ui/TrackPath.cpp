#include "ui/TrackPath.h"

#include <QDir>

#include <algorithm>

namespace ql {

namespace {
// Whether QDir::cleanPath would change anything that matters here: an empty
// component ("//"), a "." or ".." component, or a trailing slash. One scan.
bool needsCleaning(const QString& path) {
    const qsizetype n = path.size();
    const QChar* d = path.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if (d[i] != QLatin1Char('/'))
            continue;
        if (i + 1 == n)
            return n > 1;
        if (d[i + 1] == QLatin1Char('/'))
            return true;
        if (d[i + 1] == QLatin1Char('.')) {
            qsizetype j = i + 2;
            if (j < n && d[j] == QLatin1Char('.'))
                ++j;
            if (j == n || d[j] == QLatin1Char('/'))
                return true;
        }
    }
    return false;
}

QString cleaned(const QString& path) {
    return needsCleaning(path) ? QDir::cleanPath(path) : path;
}
} // namespace

QString folderOf(const QString& path) {
    const QString p = cleaned(path);
    const qsizetype slash = p.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    if (slash == 0)
        return QStringLiteral("/");
    return p.left(slash);
}

qsizetype folderLength(const QString& path) {
    if (needsCleaning(path))
        return -1;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? 0 : std::max<qsizetype>(slash, 1);
}

QString lastPathComponent(const QString& path) {
    const QString p = cleaned(path);
    if (p == QLatin1String("/"))
        return p;
    const qsizetype slash = p.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? p : p.mid(slash + 1);
}

QString fileExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == fileName.size() - 1)
        return QString();
    return fileName.mid(dot + 1);
}

QStringList pathParts(const QString& path) {
    return cleaned(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

} // namespace ql
