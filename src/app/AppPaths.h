// Where the program's files live on a Linux machine.
#pragma once

#include <QString>

namespace ql {

// The resources folder: "resources" beside the executable (the build tree),
// else "<prefix>/share/quavelark" for an installed copy. Found from the
// executable's own path, so it works before any application object exists.
QString resourceDir();
QString resourcePath(const QString& name);

// $XDG_DATA_HOME/Quavelark (default ~/.local/share/Quavelark); not created here.
QString appSupportDir();

} // namespace ql
