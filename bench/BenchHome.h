// A benchmark program's own home: HOME and the XDG folders point into a
// temporary folder (App reads and writes settings and stores there), and the
// offscreen platform is chosen unless the caller set one.
#pragma once

#include <QFile>
#include <QTemporaryDir>

namespace ql::bench {

class BenchHome {
public:
    BenchHome() {
        for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            qputenv(var, QFile::encodeName(m_dir.path()));
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }

private:
    QTemporaryDir m_dir;
};

} // namespace ql::bench
