// The entry point's decision, from the argument vector alone.
//
// Pure unit: values in, values out. The whole vector is searched, program path
// included, so "--self-test" selects the validation mode wherever it stands.
#pragma once

#include <QString>
#include <QStringList>

namespace ql {

enum class RunMode { Normal, Validation };

RunMode decideRunMode(const QStringList& args);

// In validation mode: whether this is the store run ("--save" anywhere).
bool isSaveRun(const QStringList& args);

// In validation mode: the file to play is the last argument, whatever it is
// (with no file given that is "--self-test" itself, which then fails to open).
QString validationFile(const QStringList& args);

// The files a normal start was asked to open: every argument after the program
// path that does not start with "-", made absolute against `workingDir` and
// cleaned; a "file:" URL stands for its local path, and an address of another
// scheme ("https://…") is passed on as it is, for the intake to drop. Give it
// the list that remains once QApplication has taken its own options
// ("-platform offscreen"), so their values are not taken for files. A second
// instance passes these to the running one.
QStringList fileArguments(const QStringList& args, const QString& workingDir);

} // namespace ql
