#include "library/BackendCommand.h"

#include "app/JsonCodec.h"

namespace ql {

QString backendPATH(const QString& resources) {
    return resources + QStringLiteral("/bin:/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin");
}

BackendCommand backendCommand(const std::optional<QString>& python, const QString& resources,
                              const QProcessEnvironment& system) {
    BackendCommand c;
    c.program = python.value_or(QStringLiteral("/usr/bin/python3"));
    c.arguments = {resources + QStringLiteral("/backend.py")};
    c.environment = system;
    c.environment.insert(QStringLiteral("PATH"), backendPATH(resources));
    return c;
}

BackendCommand importCommand(const BackendCommand& backend, const QString& file) {
    BackendCommand c = backend;
    // The script alone, whatever else the long-lived run was given.
    c.arguments = {backend.arguments.value(0), QStringLiteral("--import-file"), file};
    return c;
}

ImportOutcome importOutcome(const QByteArray& output) {
    const std::optional<OpenReply> reply = JsonCodec<OpenReply>::decode(output);
    if (!reply)
        return {std::nullopt, QStringLiteral("음원 라이브러리의 응답을 해석할 수 없습니다.")};
    if (reply->opened)
        return {reply->opened, {}};
    // An empty message would leave the user with a blank status line.
    if (!reply->error || reply->error->isEmpty())
        return {std::nullopt, QStringLiteral("음원을 열지 못했습니다.")};
    return {std::nullopt, *reply->error};
}

} // namespace ql
