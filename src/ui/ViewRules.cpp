#include "ui/ViewRules.h"

#include <algorithm>

namespace ql {

namespace {

const char* const kSmartTitles[] = {"최근 받은 곡",  "자주 들은 곡", "한 번도 안 들은 곡",
                                    "이번 주 새 곡", "즐겨찾기",     "하이레즈 오디오"};
const char* const kViewNouns[] = {"곡", "앨범", "가수", "장르"};

QString keyNoun(const QString& key) {
    if (key == QLatin1String("album"))
        return QStringLiteral("앨범");
    if (key == QLatin1String("artist"))
        return QStringLiteral("가수");
    if (key == QLatin1String("genre"))
        return QStringLiteral("장르");
    return QStringLiteral("곡");
}

} // namespace

std::optional<TabTarget> tabTarget(int segment) {
    switch (segment) {
    case 0:
        return TabTarget{0, 1};
    case 1:
        return TabTarget{0, 2};
    case 2:
        return TabTarget{0, 0};
    case 3:
        return TabTarget{0, 3};
    case 4:
        return TabTarget{1, 1};
    case 5:
        return TabTarget{6, 1};
    default:
        return std::nullopt;
    }
}

int tabIndex(int smartMode, int viewKind) {
    if (smartMode == 6)
        return 5;
    if (smartMode == 1)
        return 4;
    if (smartMode >= 1)
        return -1;
    switch (viewKind) {
    case 1:
        return 0;
    case 2:
        return 1;
    case 0:
        return 2;
    default:
        return 3;
    }
}

int activeSidebarTag(int smartMode, bool hasCellFilter) {
    switch (smartMode) {
    case 5:
        return 1;
    case 1:
        return 5;
    case 2:
    case 3:
    case 4:
    case 6:
        return smartMode;
    default:
        return hasCellFilter ? -1 : 0;
    }
}

bool needsAddedDates(int smartMode, int viewKind, int sortMode) {
    return smartMode == 1 || smartMode == 4 || (viewKind > 0 && sortMode == 2);
}

bool isPage(int smartMode, bool hasCellFilter) {
    return smartMode >= 1 || hasCellFilter;
}

PageTitle pageTitle(int viewKind, int smartMode, const std::optional<CellFilter>& cellFilter) {
    if (cellFilter) {
        if (!cellFilter->value.isEmpty())
            return {cellFilter->value, false};
        return {keyNoun(cellFilter->key), true};
    }
    if (smartMode >= 1 && smartMode <= 6)
        return {QString::fromUtf8(kSmartTitles[smartMode - 1]), true};
    return {QString::fromUtf8(kViewNouns[std::clamp(viewKind, 0, 3)]), true};
}

QString artistPrefix(const QStringList& names) {
    QString out;
    for (const QString& name : names)
        if (!name.isEmpty())
            out += name + QStringLiteral(" · ");
    return out;
}

QString countLabelText(int viewKind, std::size_t groups, std::size_t tracks) {
    const QString count = QString::number(tracks) + QStringLiteral("곡");
    if (viewKind < 1)
        return count;
    return QString::number(groups) + (viewKind == 1 ? QStringLiteral("장") : QStringLiteral("개")) +
           QStringLiteral(" • ") + count;
}

bool recordNav(std::vector<NavState>& stack, int& index, const NavState& live) {
    const bool onEntry = index >= 0 && std::size_t(index) < stack.size();
    if (onEntry && stack[std::size_t(index)] == live)
        return false;
    stack.resize(std::size_t(std::max(index + 1, 0)));
    stack.push_back(live);
    index = int(stack.size()) - 1;
    return true;
}

} // namespace ql
