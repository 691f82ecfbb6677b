// ---- library: added dates ----
//
// Each catalog file's date (birth time, else modification time, else 0) read
// once per run on the global pool, merged in one step, then a refilter with a
// new order. Never saved.
#include "app/App.h"

#include "app/Delivery.h"
#include "library/QualityLabel.h"
#include "ui/StatusLabel.h"

#include <QFile>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/stat.h>

namespace ql {

namespace {

// One statx call for both times (QFileInfo would stat and then statx again).
double fileDate(const QString& path) {
    struct statx st {};
    const QByteArray name = QFile::encodeName(path);
    if (::statx(AT_FDCWD, name.constData(), 0, STATX_BTIME | STATX_MTIME, &st) != 0)
        return addedDate(std::nullopt, std::nullopt);
    const auto ms = [](const struct statx_timestamp& t) {
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
    };
    return addedDate(st.stx_mask & STATX_BTIME ? std::optional(ms(st.stx_btime)) : std::nullopt,
                     st.stx_mask & STATX_MTIME ? std::optional(ms(st.stx_mtime)) : std::nullopt);
}

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
    const std::function<double(const QString&)> read = seams.addedDate ? seams.addedDate : fileDate;
    QThreadPool::globalInstance()->start([delivery = Delivery(this), paths, read] {
        QHash<QString, double> dates;
        dates.reserve(paths.size());
        for (const QString& path : paths)
            dates.insert(path, read(path));
        delivery.post([dates](App& app) {
            app.library.added.insert(dates);
            app.filter(true);
        });
    });
}

} // namespace ql
