// Guards against: (fixture) a page tried against anything but the real server.
// The real remote server on 127.0.0.1 with recording fake callbacks, for the page's browser
// test. Prints "port N", then one JSON line per callback run. Each line read on stdin is either
// "stop" (stop the listener) or a JSON object: the state answered from then on.
#include "remote/RemoteServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <cstdio>

using namespace ql::remote;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RemoteServer server("abc234", 0, QHostAddress::LocalHost);
    QVariantMap state;
    const auto log = [](const QVariantMap& line) {
        std::printf("%s\n", QJsonDocument::fromVariant(line).toJson(QJsonDocument::Compact).data());
        std::fflush(stdout);
    };
    server.onState = [&] { return log({{"s", true}}), state; };
    server.onCommand = [&](const QString& command, const Query& query) {
        QVariantMap items;
        for (auto it = query.begin(); it != query.end(); ++it)
            items[it.key()] = it.value();
        return log({{"c", command}, {"q", items}}), state;
    };
    server.onSearch = [&](const QString& text) {
        log({{"l", text}});
        return QVariantList{QVariantMap{{"id", 7}, {"title", "<b>x</b>"}, {"artist", "y"}}};
    };
    if (!server.start().isEmpty())
        return 1;
    std::printf("port %u\n", unsigned(server.port()));
    std::fflush(stdout);

    QFile in;
    in.open(stdin, QIODevice::ReadOnly);
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        const QByteArray line = in.readLine().trimmed();
        if (line.isEmpty())
            app.quit(); // the test has gone
        else if (line == "stop")
            server.stop();
        else
            state = QJsonDocument::fromJson(line).object().toVariantMap();
    });
    return app.exec();
}
