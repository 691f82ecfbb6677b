// ---- library: added dates ----
//
// Each catalog file's date (birth time, else modification time, else 0) read
// once per run on the global pool, merged in one step, then a refilter with a
// new order. Never saved.
#include "app/App.h"

#include "library/QualityLabel.h"
#include "ui/StatusLabel.h"

#include <QFile>
#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/stat.h>

namespace ql {

namespace {


} // namespace

void App::warmAdded() {
    QStringList paths;
    for (const Track& t : library.rows)
        if (!library.added.contains(t.path))
            paths << t.path;
    if (paths.isEmpty()) {
        filter(true);
        return;
    }
    status->setStringValue(QStringLiteral("받은 날짜 확인 중…"));
    const std::function<double(const QString&)> read =
        [tools = services.tools](const QString& path) { return tools->addedDate(path); };
    QPointer<App> self(this);
    QThreadPool::globalInstance()->start([self, paths, read] {
        QHash<QString, double> dates;
        dates.reserve(paths.size());
        for (const QString& path : paths)
            dates.insert(path, read(path));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, dates] {
                if (!self)
                    return;
                self->library.added.insert(dates);
                self->filter(true);
            },
            Qt::QueuedConnection);
    });
}

} // namespace ql
