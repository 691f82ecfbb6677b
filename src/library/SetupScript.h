// The shell script that installs missing external programs (FFmpeg, Python 3
// with mutagen) with apt-get, for the start-up check to open in a terminal.
//
// The text is fixed and stays in Korean whatever the interface language: it
// runs outside the program. It has no error handling of its own (a failing
// step does not stop the later ones), ends by asking the user to restart the
// player and waits for one key so the terminal stays open.
#pragma once

#include <QString>

#include <optional>

namespace ql {

// "Quavelark-setup.command".
extern const QString kSetupScriptName;

// The script, UTF-8 when written, without a line break after its last line.
QString setupScriptText();

// A folder of ours for the script: the runtime folder when it is private,
// else a new folder of mode 0700 under the temporary folder, unless others
// may write there without the sticky bit. The new folder is kept: the
// terminal reads the script after we return. None when neither can be had.
std::optional<QString> setupScriptFolder();

// Writes the script into `folder` under kSetupScriptName, replacing an earlier
// copy in one step, and makes it executable (mode 0755). `folder` must be a
// private folder of ours (isPrivateFolder): in a shared one, a link planted
// under the name would make the write land on its target. Returns the file's
// path, or none when the folder is not private or the write or the
// permission change failed. Any thread.
std::optional<QString> writeSetupScript(const QString& folder);

} // namespace ql
