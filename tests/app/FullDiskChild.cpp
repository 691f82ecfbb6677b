// Guards against: (helper) a save on a full disk reported as done, or emptying the old file.
// The child of FullDiskTest: saves one file under a file-size limit of a few
// bytes (SIGXFSZ ignored, so a write fails with EFBIG the way a full disk
// fails with ENOSPC), checks the old file is untouched, lifts the limit and
// saves the same data again from memory. Prints one JSON object:
// {"limited": saved under the limit, "oldKept": the old bytes still there,
//  "told": a failure waits for the status line, "lifted": saved afterwards}.
//
// Usage: full_disk_child store|settings <file> (the settings: the run's own
// file, found through XDG_CONFIG_HOME).
#include "app/JSONStore.h"
#include "app/Records.h"
#include "app/UserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <csignal>
#include <cstdio>

#include <sys/resource.h>

using namespace ql;

namespace {
QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3)
        return 2;
    const QString mode = args[1], path = args[2];
    const QByteArray old = bytesOf(path);

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit lifted{};
    if (::getrlimit(RLIMIT_FSIZE, &lifted) != 0)
        return 2;
    rlimit small = lifted;
    small.rlim_cur = 4;

    std::function<bool()> save;
    QHash<QString, PlayStat> stats;
    for (int i = 0; i < 48; ++i)
        stats.insert(QStringLiteral("/music/%1.flac").arg(i), PlayStat{i + 1, 1.7e9 + i});
    if (mode == QLatin1String("store")) {
        save = [&] {
            return JSONStore(QFileInfo(path).path()).save(QFileInfo(path).fileName(), stats);
        };
    } else if (mode == QLatin1String("settings")) {
        UserDefaults d;
        if (d.fileName() != path)
            return 3;
        d.set(keys::kRemoteToken, QStringLiteral("secret-token"));
        d.set(keys::kPlayerVolume, 37.5);
        save = [] { return UserDefaults().sync(); };
    } else {
        return 2;
    }

    if (::setrlimit(RLIMIT_FSIZE, &small) != 0)
        return 2;
    const bool limited = save();
    const bool oldKept = bytesOf(path) == old;
    const std::vector<JSONStore::WriteOutcome> outcomes = JSONStore::takeOutcomes();
    const bool told = std::ranges::any_of(outcomes, [](const auto& o) { return !o.saved; });
    if (::setrlimit(RLIMIT_FSIZE, &lifted) != 0)
        return 2;
    const bool again = save();
    std::printf("{\"limited\":%s,\"oldKept\":%s,\"told\":%s,\"lifted\":%s}\n",
                limited ? "true" : "false", oldKept ? "true" : "false", told ? "true" : "false",
                again ? "true" : "false");
    return 0;
}
