#include "downloader/FetchProtocol.h"

#include <QFileInfo>
#include <QTextBoundaryFinder>

namespace ql {

QString cutBlanks(const QString& line) {
    qsizetype from = 0;
    qsizetype to = line.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (from < to && blank(line[from]))
        ++from;
    while (to > from && blank(line[to - 1]))
        --to;
    return line.mid(from, to - from);
}

namespace {

bool startsWithAny(const QString& line, std::initializer_list<const char16_t*> prefixes) {
    for (const char16_t* prefix : prefixes)
        if (line.startsWith(QStringView(prefix)))
            return true;
    return false;
}

} // namespace

QStringList FetchOutput::consume(QByteArrayView bytes) {
    QStringList lines;
    const qsizetype scanFrom = m_pending.size();
    m_pending.append(bytes);
    qsizetype start = 0;
    qsizetype scan = scanFrom;
    for (;;) {
        const qsizetype feed = m_pending.indexOf('\n', scan);
        if (feed < 0)
            break;
        // Decoded with its line feed, so a sequence cut before it becomes
        // U+FFFD here instead of joining the next line.
        QString line = m_decoder.decode(QByteArrayView(m_pending).sliced(start, feed + 1 - start));
        line.chop(1);
        lines << line;
        start = scan = feed + 1;
    }
    m_pending.remove(0, start);
    if (m_pending.size() > kMaxLine) {
        // The decoder keeps a character cut at the cap for what follows.
        lines << m_decoder.decode(m_pending);
        m_pending.clear();
    }
    return lines;
}

QString FetchOutput::takeRest() {
    m_pending.append('\n');
    QString rest = m_decoder.decode(m_pending);
    rest.chop(1);
    m_pending.clear();
    m_decoder.resetState();
    return rest;
}

FetchLine classifyLine(const QString& raw) {
    FetchLine out;
    out.text = cutBlanks(raw);
    const QString& line = out.text;
    if (line.isEmpty())
        return out;
    static const QString kSavedSep = QStringLiteral("]: ");
    const qsizetype sep = line.indexOf(kSavedSep);
    if (line.startsWith(u"완료 [") && sep >= 0) {
        out.kind = FetchLineKind::Saved;
        out.path = line.mid(sep + kSavedSep.size());
        // A script ending its lines with CR LF: the CR is no part of the path.
        if (out.path.endsWith(u'\r'))
            out.path.chop(1);
        out.log = QStringLiteral("✓ ") + QFileInfo(out.path).completeBaseName();
    } else if (startsWithAny(line, {u"중단:", u"미완료", u"새 요청 중단"})) {
        out.kind = FetchLineKind::Error;
        out.log = QStringLiteral("⚠ ") + line;
    } else if (line.startsWith(u"건너뜀")) {
        out.kind = FetchLineKind::Skipped;
        out.log = QStringLiteral("↷ ") + line;
    } else if (startsWithAny(line, {u"인기곡 FLAC 저장", u"이번 묶음", u"단일 곡 처리 완료",
                                    u"앨범 처리 완료"})) {
        out.kind = FetchLineKind::Summary;
        out.log = line;
    } else {
        out.kind = FetchLineKind::Progress;
        out.log = line;
    }
    return out;
}

QString FetchRun::savedSummary() const {
    return QStringLiteral("저장 %1곡 · 목록에 추가 중").arg(saved);
}

QString FetchRun::outcome(int status) const {
    if (stopRequested)
        return QStringLiteral("중지됨 · 저장 %1곡").arg(saved);
    if (sawError)
        return QStringLiteral("중단됨 · 저장 %1곡 (로그 확인)").arg(saved);
    if (status != 0)
        return QStringLiteral("종료 코드 %1 · 저장 %2곡").arg(status).arg(saved);
    return QStringLiteral("완료 · 저장 %1곡").arg(saved);
}

qsizetype graphemeCount(QStringView text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), int(text.size()));
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

qsizetype FetchLog::append(const QString& line) {
    m_text += line;
    m_text += u'\n';
    m_chars += graphemeCount(line) + 1;
    if (m_chars <= kMaxChars)
        return 0;
    qsizetype cut = qMin(kCut, m_text.size());
    if (cut < m_text.size() && m_text[cut].isLowSurrogate())
        ++cut;
    m_chars -= graphemeCount(QStringView(m_text).first(cut));
    m_text.remove(0, cut);
    return cut;
}

void FetchLog::clear() {
    m_text.clear();
    m_chars = 0;
}

} // namespace ql
