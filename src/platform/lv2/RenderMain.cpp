// quavelark-lv2render <in.caf> <out.caf>: renders the input through the
// plug-in slots given as JSON on standard input (see Lv2Render.h). It runs as
// a process of its own so that a plug-in that crashes or hangs takes only
// this program down, never the player.
#include "app/JsonCodec.h"
#include "platform/lv2/Lv2Render.h"

#include <QByteArray>
#include <QFile>

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    using namespace ql;
    if (argc != 3) {
        std::fputs("usage: quavelark-lv2render <in.caf> <out.caf> < plugins.json\n", stderr);
        return platform::kRenderFailed;
    }
    const std::string json{std::istreambuf_iterator<char>(std::cin),
                           std::istreambuf_iterator<char>()};
    const std::optional<std::vector<PluginSlot>> plugins =
        JsonCodec<std::vector<PluginSlot>>::decode(
            QByteArrayView(json.data(), qsizetype(json.size())));
    if (!plugins) {
        std::fputs("the plug-in slots on standard input are not valid JSON\n", stderr);
        return platform::kRenderFailed;
    }
    // Standard output carries only this program's own lines: whatever a
    // plug-in prints goes to standard error, so it can neither stand in for
    // "loaded" nor be read as a failing slot.
    std::fflush(stdout);
    std::FILE* lines = nullptr;
    if (const int fd = dup(STDOUT_FILENO); fd >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) >= 0)
        lines = fdopen(fd, "w");
    if (!lines)
        return platform::kRenderFailed;
    return platform::renderWithPlugins(QFile::decodeName(argv[1]), QFile::decodeName(argv[2]),
                                       *plugins, lines, stderr);
}
