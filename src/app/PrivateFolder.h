// Folders only this user can enter, for files other users must neither read
// nor replace (the instance socket, the setup script, the work folder).
//
// The temporary folder is shared: a name made there can be taken first by
// another user, or be a link planted to make us write elsewhere. Inside a
// folder of mode 0700 that we own, no one else can plant anything; and that
// folder stays where it was made only while the folder it lies in lets no one
// else rename it away.
#pragma once

#include <QString>

#include <optional>

namespace ql {

// A real folder (not a link to one), owned by us, closed to group and others.
bool isPrivateFolder(const QString& path);

// $XDG_RUNTIME_DIR when it is set and private, else none.
std::optional<QString> privateRuntimeFolder();

// Whether names we make in `folder` stay ours: no one but us and root may
// rename or remove them. The folder is ours or root's, and neither its
// group nor others may write in it, or it is sticky (as /tmp is). A link is
// followed.
bool holdsOurNames(const QString& folder);

// Makes `path` with mode 0700 when it is missing; the folder, when it is
// then private (an existing one that is not stays unused) and the folder it
// lies in holds our names, else none: in a folder others (its group, say)
// may write without
// the sticky bit, another user could rename ours away and put one of theirs
// in its place.
std::optional<QString> makePrivateFolder(const QString& path);

} // namespace ql
