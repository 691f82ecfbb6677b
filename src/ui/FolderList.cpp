#include "ui/FolderList.h"

#include "ui/TrackPath.h"

#include <QCollator>

#include <algorithm>

namespace ql {

namespace {

QString nameOf(const QString& path, const QStringList& parts) {
    return parts.isEmpty() ? path : parts.last();
}

// The last k parts joined by "/" (all of them when there are fewer).
QString tail(const QStringList& parts, qsizetype k) {
    return parts.mid(std::max<qsizetype>(0, parts.size() - k)).join(QLatin1Char('/'));
}

// name — the k − 1 parts before the last one (all of them when there are fewer).
QString labelWithParents(const QString& name, const QStringList& parts, qsizetype k) {
    const qsizetype end = std::max<qsizetype>(0, parts.size() - 1);
    const qsizetype begin = std::max<qsizetype>(0, end - (k - 1));
    QString label = name;
    label += QStringView(kFolderLabelSeparator);
    label += parts.mid(begin, end - begin).join(QLatin1Char('/'));
    return label;
}

qsizetype lastRun(const QStringList& parts) {
    return std::max<qsizetype>(2, parts.size());
}

} // namespace

QString folderLabel(const QString& path, const QStringList& all) {
    const QStringList parts = pathParts(path);
    const QString name = nameOf(path, parts);
    std::vector<QStringList> same;
    for (const QString& p : all) {
        QStringList pp = pathParts(p);
        if (nameOf(p, pp) == name)
            same.push_back(std::move(pp));
    }
    if (same.size() < 2)
        return name;
    for (qsizetype k = 2; k <= lastRun(parts); ++k) {
        const QString s = tail(parts, k);
        const auto n = std::count_if(same.begin(), same.end(),
                                     [&](const QStringList& pp) { return tail(pp, k) == s; });
        if (n == 1)
            return labelWithParents(name, parts, k);
    }
    return labelWithParents(name, parts, parts.size());
}

QHash<QString, QString> folderLabels(const QStringList& all) {
    struct Folder {
        QString path;
        QStringList parts;
        QString name;
    };
    std::vector<Folder> folders;
    folders.reserve(all.size());
    QHash<QString, std::vector<std::size_t>> byName;
    for (const QString& p : all) {
        Folder f{p, pathParts(p), {}};
        f.name = nameOf(p, f.parts);
        byName[f.name].push_back(folders.size());
        folders.push_back(std::move(f));
    }

    QHash<QString, QString> labels;
    labels.reserve(all.size());
    for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
        const std::vector<std::size_t>& group = it.value();
        if (group.size() < 2) {
            const Folder& f = folders[group.front()];
            labels.insert(f.path, f.name);
            continue;
        }
        qsizetype deepest = 2;
        for (const std::size_t i : group)
            deepest = std::max(deepest, lastRun(folders[i].parts));
        std::vector<bool> done(group.size(), false);
        std::size_t open = group.size();
        for (qsizetype k = 2; k <= deepest && open > 0; ++k) {
            QHash<QString, int> counts;
            std::vector<QString> tails(group.size());
            for (std::size_t g = 0; g < group.size(); ++g) {
                tails[g] = tail(folders[group[g]].parts, k);
                ++counts[tails[g]];
            }
            for (std::size_t g = 0; g < group.size(); ++g) {
                const Folder& f = folders[group[g]];
                if (done[g] || k > lastRun(f.parts) || counts.value(tails[g]) != 1)
                    continue;
                labels.insert(f.path, labelWithParents(f.name, f.parts, k));
                done[g] = true;
                --open;
            }
        }
        for (std::size_t g = 0; g < group.size(); ++g) {
            if (done[g])
                continue;
            const Folder& f = folders[group[g]];
            labels.insert(f.path, labelWithParents(f.name, f.parts, f.parts.size()));
        }
    }
    return labels;
}

std::vector<FolderEntry> folderList(const std::vector<Track>& rows, const QLocale& locale) {
    QHash<QString, int> counts;
    QStringList paths;
    for (const Track& t : rows) {
        const QString folder = folderOf(t.path);
        if (folder.isEmpty())
            continue;
        auto it = counts.find(folder);
        if (it == counts.end()) {
            counts.insert(folder, 1);
            paths << folder;
        } else {
            ++it.value();
        }
    }

    const QHash<QString, QString> labels = folderLabels(paths);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);

    struct Keyed {
        FolderEntry entry;
        QCollatorSortKey key;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(paths.size());
    for (const QString& p : paths) {
        const QString label = labels.value(p);
        keyed.push_back({{p, label, counts.value(p)}, collator.sortKey(label)});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        const int c = a.key.compare(b.key);
        return c != 0 ? c < 0 : a.entry.path < b.entry.path;
    });

    std::vector<FolderEntry> out;
    out.reserve(keyed.size());
    for (Keyed& k : keyed)
        out.push_back(std::move(k.entry));
    return out;
}

} // namespace ql
