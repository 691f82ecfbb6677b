// Folders only this user can enter, for files other users must neither read
// nor replace (the instance socket, the setup script).
//
// The temporary folder is shared: a name made there can be taken first by
// another user, or be a link planted to make us write elsewhere. Inside a
// folder of mode 0700 that we own, no one else can plant anything.
#pragma once

#include <QString>

#include <optional>

namespace ql {

// A real folder (not a link to one), owned by us, closed to group and others.
bool isPrivateFolder(const QString& path);

// $XDG_RUNTIME_DIR when it is set and private, else none.
std::optional<QString> privateRuntimeFolder();

// Makes `path` with mode 0700 when it is missing; the folder, when it is
// then private (an existing one that is not stays unused), else none.
std::optional<QString> makePrivateFolder(const QString& path);

} // namespace ql
