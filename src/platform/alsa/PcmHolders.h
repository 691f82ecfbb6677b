// Which processes hold a PCM device open, found the way a person would: by
// reading /proc/<pid>/fd and looking for links to the PCM's device node.
//
// Only processes whose fd folder we may read are seen (our own user's, or all
// when run as root); a holder of another user is invisible here, which the
// caller allows for. The proc root is a parameter so tests can lay out a tree
// of their own.
#pragma once

#include <QString>

#include <vector>

namespace ql::platform::alsa {

// The pids (ascending, each once) with an open file descriptor linking to
// `node`, e.g. "/dev/snd/pcmC0D0p".
std::vector<int> pcmHolders(const QString& procRoot, const QString& node);

// Whether one process holds `node` open.
bool pidHolds(const QString& procRoot, int pid, const QString& node);

} // namespace ql::platform::alsa
