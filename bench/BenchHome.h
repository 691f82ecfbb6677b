// A benchmark program's own home: HOME and the XDG folders point into a
// temporary folder (App reads and writes settings and stores there), and the
// offscreen platform is chosen unless the caller set one. With `ownTemp`,
// TMPDIR points into it too, so the program's temporary files and the test
// files it makes (in tempPath()) go with it.
#pragma once

#include <QFile>
#include <QTemporaryDir>

namespace ql::bench {

class BenchHome {
public:
    explicit BenchHome(bool ownTemp = false) {
        for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            qputenv(var, QFile::encodeName(m_dir.path()));
        if (ownTemp)
            qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QString tempPath() const { return m_temp.path(); }

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_temp;
};

} // namespace ql::bench
