// Why a stage of an effects render was dropped: a fixed interface text
// (translated when shown), a name that follows it as it is (a plug-in
// slot's name, or empty) and a fixed text after the name (translated; for
// example why the plug-in could not be used), or empty. Code 2: a plug-in did not load; 3: an offline
// rendering error; 4: the upsampling failed.
#pragma once

#include <QString>

namespace ql {

struct RenderNote {
    int code = 0;
    QString text;
    QString name;
    QString after;
    bool operator==(const RenderNote&) const = default;
};

} // namespace ql
