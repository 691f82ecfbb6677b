// Feeds arbitrary bytes to the phone remote's request judge and checks what
// must hold for every input: bytes past the limit never count, a served
// request carries the token, the judge gives the same verdict twice, and a
// peer out of tries gets "slowed" exactly where its token would be compared.
#include "remote/RemoteRequest.h"

#include "FuzzInput.h"

using namespace ql::remote;

using ql::fuzz::require;

namespace {

bool same(const RemoteRequest& a, const RemoteRequest& b) {
    return a.verdict == b.verdict && a.query == b.query && a.argument == b.argument;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString token = QStringLiteral("abc234");
    const RemoteRequest verdict = judgeRequest(bytes, token);

    require(same(verdict, judgeRequest(bytes, token)));
    require(same(verdict, judgeRequest(bytes.first(qMin(bytes.size(), kRequestLimit)), token)));
    switch (verdict.verdict) {
    case Verdict::Page:
    case Verdict::State:
    case Verdict::Command:
    case Verdict::Search:
    case Verdict::NotFound:
        require(verdict.query.value(QStringLiteral("t")) == token);
        break;
    case Verdict::Drop:
        require(verdict.query.isEmpty());
        break;
    default:
        break;
    }
    const Verdict slowed = judgeRequest(bytes, token, false).verdict;
    switch (verdict.verdict) {
    case Verdict::Drop:
    case Verdict::BadRequest:
    case Verdict::TooLong:
        require(slowed == verdict.verdict);
        break;
    default:
        require(slowed == Verdict::Slowed);
        break;
    }
    if (verdict.verdict == Verdict::Command)
        require(verdict.argument == verdict.query.value(QStringLiteral("c")));
    if (verdict.verdict == Verdict::Search)
        require(verdict.argument == verdict.query.value(QStringLiteral("q")));
    return 0;
}
