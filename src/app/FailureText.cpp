#include "app/FailureText.h"

#include "ui/l10n/L10n.h"

namespace ql {

QString failureKorean(Failure cause) {
    switch (cause) {
    case Failure::ProgramMissing:
        return QStringLiteral("프로그램이 없습니다: ");
    case Failure::ProgramNotExecutable:
        return QStringLiteral("실행할 수 없는 프로그램입니다: ");
    case Failure::ProgramNotStarted:
        return QStringLiteral("프로그램을 시작하지 못했습니다: ");
    case Failure::ProgramEnded:
        return QStringLiteral("프로그램이 예기치 않게 끝났습니다: ");
    case Failure::ProgramNotWritable:
        return QStringLiteral("프로그램에 요청을 보내지 못했습니다: ");
    case Failure::FileNotWritable:
        return QStringLiteral("파일을 쓸 수 없습니다(권한 또는 디스크 공간 부족): ");
    case Failure::FileUnreadable:
        return QStringLiteral("파일을 읽을 수 없거나 지원하지 않는 형식입니다: ");
    case Failure::FileTooSlow:
        return QStringLiteral("파일을 여는 데 너무 오래 걸렸습니다: ");
    case Failure::FileCrowded:
        return QStringLiteral("태그가 너무 많아 이 파일을 재생할 수 없습니다: ");
    }
    return QStringLiteral("프로그램을 시작하지 못했습니다: ");
}

QString failureText(Failure cause, const QString& name) {
    return L10n::tr(failureKorean(cause)) + name;
}

Failure processFailure(QProcess::ProcessError error, ProgramFile file) {
    switch (error) {
    case QProcess::FailedToStart:
        if (file == ProgramFile::Missing)
            return Failure::ProgramMissing;
        if (file == ProgramFile::NotExecutable)
            return Failure::ProgramNotExecutable;
        return Failure::ProgramNotStarted;
    case QProcess::Crashed:
    case QProcess::ReadError:
        return Failure::ProgramEnded;
    case QProcess::WriteError:
        return Failure::ProgramNotWritable;
    case QProcess::Timedout:
    case QProcess::UnknownError:
        break;
    }
    return Failure::ProgramNotStarted;
}

} // namespace ql
