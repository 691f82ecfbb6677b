#include "library/SetupScript.h"

#include "app/PrivateFolder.h"
#include "app/SafeWrite.h"

#include <QDir>
#include <QTemporaryDir>

namespace ql {

const QString kSetupScriptName = QStringLiteral("Quavelark-setup.command");

QString setupScriptText() {
    // Debian's package manager needs no installing of its own: step 1 brings
    // its package lists up to date instead, so the install finds current
    // versions on a machine that has never updated them.
    static const char* const kLines[] = {
        "#!/bin/bash",
        "clear",
        "echo \"=== Quavelark 필요한 프로그램 설치 ===\"",
        "echo \"비밀번호를 물으면 입력하세요(입력해도 화면에 안 보입니다).\"",
        "echo",
        "echo \"[1/2] apt(설치 도우미) 패키지 목록 갱신 중…\"",
        "sudo apt-get update",
        "echo",
        "echo \"[2/2] FFmpeg · Python 설치 중… (몇 분 걸릴 수 있어요)\"",
        "sudo apt-get install -y ffmpeg python3 python3-mutagen",
        "echo",
        "echo \"=== 설치 끝! Quavelark을 종료했다가 다시 실행하세요. ===\"",
        "read -n 1 -s -r -p \"아무 키나 누르면 이 창이 닫힙니다\"",
    };
    QStringList lines;
    for (const char* line : kLines)
        lines << QString::fromUtf8(line);
    return lines.join(QLatin1Char('\n'));
}

std::optional<QString> setupScriptFolder() {
    if (const std::optional<QString> runtime = privateRuntimeFolder())
        return runtime;
    // QDir::tempPath() is empty when TMPDIR names a folder that does not
    // exist; "" + "/name" would be made at the root of the file system.
    const QString tmp = QDir::tempPath();
    if (tmp.isEmpty() || !QDir::isAbsolutePath(tmp))
        return std::nullopt;
    // In a folder others may write without the sticky bit, ours could be
    // renamed away and one of theirs, with a script of theirs, put in its
    // place before the terminal runs it.
    if (!holdsOurNames(tmp))
        return std::nullopt;
    QTemporaryDir fresh(tmp + QStringLiteral("/Quavelark-setup-XXXXXX"));
    if (!fresh.isValid())
        return std::nullopt;
    const std::optional<QString> folder = makePrivateFolder(fresh.path());
    fresh.setAutoRemove(!folder);
    return folder;
}

std::optional<QString> writeSetupScript(const QString& folder) {
    if (!QDir::isAbsolutePath(folder) || !isPrivateFolder(folder))
        return std::nullopt;
    const QString path = folder + QLatin1Char('/') + kSetupScriptName;

    // Written whole or not at all: a short script on a full disk would run
    // as if it had done its work.
    if (!replaceFileChecked(path, setupScriptText().toUtf8(), nullptr, 0755))
        return std::nullopt;
    return path;
}

} // namespace ql
