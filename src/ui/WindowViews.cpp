#include "ui/WindowViews.h"

#include "ui/IconButton.h"
#include "ui/PlayButton.h"
#include "ui/TrackTableView.h"

#include <QLabel>
#include <QSlider>

namespace ql {

void WindowViews::deleteUnplaced() {
    for (QWidget* w : std::initializer_list<QWidget*>{
             table,          titleLabel,   artistLabel, infoLabel,     pageTitle,
             pageSub,        volume,       barFav,      restartButton, shuffleButton,
             previousButton, playButton,   nextButton,  repeatBtn,     nowPlayingButton,
             analysisButton, elapsedLabel, remainLabel, volDownButton, volDB,
             volUpButton,    dacLabel,     lockBtn,     deviceButton,  toolsButton})
        if (w && !w->parent())
            delete w;
}

} // namespace ql
