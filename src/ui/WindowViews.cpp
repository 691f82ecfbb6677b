#include "ui/WindowViews.h"

#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"

#include <QLabel>
#include <QTableView>

namespace ql {

void WindowViews::deleteUnplaced() {
    for (QWidget* w : std::initializer_list<QWidget*>{table, titleLabel, artistLabel, infoLabel,
                                                      pageTitle, pageSub, volume, playButton})
        if (w && !w->parent())
            delete w;
}

} // namespace ql
