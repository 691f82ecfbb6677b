// Guards against: (fixture) a page tried against anything but the real server.
// The real remote server on 127.0.0.1 with recording fake callbacks, for the
// page's browser test. Prints "port N", then one JSON line per callback run.
// Reads lines on stdin: "state <json object>" sets the state answered from now
// on, "stop" stops the listener.
#include "remote/RemoteServer.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

using namespace ql::remote;

namespace {
void log(const QJsonObject& line) {
    std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RemoteServer server("abc234", 0, QHostAddress::LocalHost);
    QVariantMap state;
    server.onState = [&] {
        log({{"s", true}});
        return state;
    };
    server.onCommand = [&](const QString& command, const Query& query) {
        QJsonObject items;
        for (auto it = query.begin(); it != query.end(); ++it)
            items[it.key()] = it.value();
        log({{"c", command}, {"q", items}});
        return state;
    };
    server.onSearch = [&](const QString& text) {
        log({{"l", text}});
        return QVariantList{QVariantMap{{"id", 7}, {"title", "<b>x</b>"}, {"artist", "y"}}};
    };
    if (const QString error = server.start(); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("port %u\n", unsigned(server.port()));
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            app.quit();
            return;
        }
        pending.append(chunk, n);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray line = pending.left(end);
            if (line.startsWith("state "))
                state = QJsonDocument::fromJson(line.mid(6)).object().toVariantMap();
            else if (line == "stop")
                server.stop();
        }
    });
    return app.exec();
}
