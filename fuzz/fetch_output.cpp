// The download script's output as the window reads it: bytes in chunks of any
// size give the same lines as the whole output at once (a UTF-8 character
// cut between two reads is joined again), no line holds a line feed, and
// every line classifies and goes into the bounded log.
#include "FuzzInput.h"

#include "downloader/FetchProtocol.h"

using namespace ql;
using ql::fuzz::require;

namespace {

QStringList readAll(QByteArrayView output, qsizetype chunkLimit) {
    FetchOutput reader;
    QStringList lines;
    fuzz::FuzzInput chunks(reinterpret_cast<const std::uint8_t*>(output.data()),
                           std::size_t(output.size()));
    while (!chunks.rest().isEmpty())
        lines << reader.consume(chunks.chunk(chunkLimit));
    if (reader.hasRest())
        lines << reader.takeRest();
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    const qsizetype chunkLimit = 1 + in.byte();
    const QByteArrayView output = in.rest();
    const QStringList lines = readAll(output, chunkLimit);
    require(lines == readAll(output, output.size() + 1));

    FetchRun run;
    FetchLog log;
    for (const QString& line : lines) {
        require(!line.contains(u'\n'));
        const FetchLine read = classifyLine(line);
        require(read.kind == FetchLineKind::Ignored || !read.log.isEmpty());
        if (read.kind == FetchLineKind::Saved)
            ++run.saved;
        if (!read.log.isEmpty())
            log.append(read.log);
        require(log.characters() <= FetchLog::kMaxChars + graphemeCount(read.log) + 1);
    }
    require(!run.savedSummary().isEmpty() && !run.outcome(0).isEmpty());
    return 0;
}
