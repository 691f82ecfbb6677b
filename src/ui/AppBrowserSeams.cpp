// ---- browser seams: the catalog filter and the folder list ----
//
// Seams for the browser core, which replaces this file: its filter applies the
// search, folder, cell and smart-list stages and the shuffle order, and its
// folder list refills the folder pop-up. Until it lands the visible list is
// the whole catalog in catalog order, and the status line gets the count text
// as a held message, as the real filter shows it.
#include "app/App.h"

#include "library/CatalogChange.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

namespace ql {

void App::filter(bool) {
    browser.filtered = library.rows;
    status->setStringValue(L10n::tr(catalogCountText(qsizetype(browser.filtered.size()),
                                                     qsizetype(library.rows.size()), false)));
}

void App::rebuildFolders() {}

} // namespace ql
