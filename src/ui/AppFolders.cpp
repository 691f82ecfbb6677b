// ---- browser: the folder pop-up ----
#include "app/App.h"

#include "app/UserDefaults.h"
#include "ui/FolderList.h"
#include "ui/l10n/L10n.h"

#include <QComboBox>
#include <QStandardItemModel>

#include <algorithm>

namespace ql {

void App::rebuildFolders(bool forgetMissing) {
    showFolders(folderList(library.rows), forgetMissing);
}

void App::showFolders(const std::vector<FolderEntry>& folders, bool forgetMissing) {
    browser.folderPaths = QStringList{QString()};
    browser.folderPaths.reserve(qsizetype(folders.size()) + 1);
    for (const FolderEntry& f : folders)
        browser.folderPaths << f.path;

    if (forgetMissing && !browser.folderPaths.contains(browser.selectedFolder)) {
        browser.selectedFolder.clear();
        UserDefaults().remove(keys::kSelectedFolder);
    }

    // A new model filled before the pop-up sees it: thousands of folders
    // inserted one by one into a live pop-up would each signal its view.
    auto* model = new QStandardItemModel(folderPicker);
    QList<QStandardItem*> items;
    items.reserve(qsizetype(folders.size()) + 1);
    items << new QStandardItem(L10n::tr(QStringLiteral("모든 폴더 (") +
                                        QString::number(library.rows.size()) +
                                        QStringLiteral("곡)")));
    for (const FolderEntry& f : folders) {
        // The label is the user's folder name, shown as it is; only the count
        // is translated.
        auto* item =
            new QStandardItem(f.label + L10n::tr(QStringLiteral(" (") + QString::number(f.count) +
                                                 QStringLiteral("곡)")));
        item->setToolTip(f.path);
        items << item;
    }
    model->invisibleRootItem()->appendRows(items);
    folderPicker->setModel(model); // the old model, a child of the pop-up, goes

    folderPicker->setCurrentIndex(
        std::max<qsizetype>(0, browser.folderPaths.indexOf(browser.selectedFolder)));
    // The same index in a new list may read otherwise ("All folders (5
    // tracks)" after "All folders"): the pop-up's width follows its text.
    folderPicker->updateGeometry();
}

void App::folderChanged() {
    const int index = folderPicker->currentIndex();
    if (index < 0 || index >= browser.folderPaths.size())
        return;
    browser.selectedFolder = browser.folderPaths[index];
    browser.cellFilter.reset();
    UserDefaults().set(keys::kSelectedFolder, browser.selectedFolder);
    filter(true);
}

} // namespace ql
