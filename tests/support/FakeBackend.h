// Guards against: (fixture) a stand-in backend unlike the real protocol.
// The fake library backend (fake_backend.py beside this file) for tests that
// run the program's backend bridge against a real child process: the test
// fills in `plan` (the keys are described at the top of the script), calls
// install(), and points the App's backendCommand seam at command().
#pragma once

#include "app/JsonCodec.h"
#include "app/Records.h"
#include "library/ToolPaths.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace ql::test {

class FakeBackend {
public:
    QJsonObject plan;

    FakeBackend() { plan.insert(QStringLiteral("log"), logPath()); }

    // Writes the plan and names it in the environment the backend inherits.
    void install() const {
        const QString path = m_dir.filePath(QStringLiteral("plan.json"));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(QJsonDocument(plan).toJson());
        qputenv("QL_FAKE_BACKEND_PLAN", QFile::encodeName(path));
    }

    static QString script() { return QStringLiteral(QL_TEST_SUPPORT_DIR "/fake_backend.py"); }
    static QStringList command() {
        return {pythonPath().value_or(QStringLiteral("/usr/bin/python3")), script()};
    }

    QString logPath() const { return m_dir.filePath(QStringLiteral("requests.log")); }
    // The request lines received so far, each with its line feed.
    QList<QByteArray> requests() const {
        QFile f(logPath());
        QList<QByteArray> lines;
        if (!f.open(QIODevice::ReadOnly))
            return lines;
        while (!f.atEnd())
            lines << f.readLine();
        return lines;
    }

    // A step that writes the texts one after another.
    static QJsonObject write(const QStringList& chunks, double pause = 0) {
        QJsonObject step{{QStringLiteral("chunks"), QJsonArray::fromStringList(chunks)}};
        if (pause > 0)
            step.insert(QStringLiteral("pause"), pause);
        return step;
    }
    // One reply line.
    static QString line(const Library& reply) {
        return QString::fromUtf8(JsonCodec<Library>::encode(reply).value_or("{}")) + u'\n';
    }

private:
    QTemporaryDir m_dir;
};

} // namespace ql::test
