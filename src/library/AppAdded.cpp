// ---- library: added dates ----
//
// Each catalog file's date (birth time, else modification time, else 0) read
// once per run on the ask queue, each through its reader (UserFiles), merged
// in one step, then a refilter with a new order. Never saved.
#include "app/App.h"

#include "app/Delivery.h"
#include "library/QualityLabel.h"
#include "platform/UserFiles.h"
#include "ui/StatusLabel.h"

#include <QFile>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/stat.h>

namespace ql {

void App::warmAdded() {
    if (!readMissingAdded())
        filter(true);
}

bool App::readMissingAdded() {
    QStringList paths;
    for (const Track& t : library.rows)
        if (!library.added.contains(t.path) && !library.addedPending.contains(t.path))
            paths << t.path;
    if (paths.isEmpty())
        return !library.addedPending.isEmpty(); // the read under way refilters
    for (const QString& path : paths)
        library.addedPending.insert(path);
    status->setStringValue(QStringLiteral("받은 날짜 확인 중…"));
    const std::function<double(const QString&)> read =
        [tools = services.tools](const QString& path) { return tools->addedDate(path); };
    // Each file through its reader: one on a slow disk holds the list at
    // most once, and is left without a date (asked again next time).
    askQueue->start([delivery = Delivery(this), paths, read] {
        QHash<QString, double> dates;
        dates.reserve(paths.size());
        for (const QString& path : paths)
            platform::UserFiles::readNow(
                path, [&](const platform::UserFiles::Touch&) { dates.insert(path, read(path)); });
        delivery.post([dates, paths](App& app) {
            app.library.added.insert(dates);
            for (const QString& path : paths)
                app.library.addedPending.remove(path);
            app.filter(true);
        });
    });
    return true;
}

} // namespace ql
