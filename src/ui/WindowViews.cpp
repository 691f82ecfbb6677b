#include "ui/WindowViews.h"

#include "ui/IconButton.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/TrackTableView.h"

#include <QLabel>

namespace ql {

void WindowViews::deleteUnplaced() {
    for (QWidget* w : std::initializer_list<QWidget*>{
             table,          titleLabel,  artistLabel,   infoLabel,        pageTitle,
             pageSub,        volume,      barFav,        restartButton,    shuffleButton,
             previousButton, playButton,  nextButton,    nowPlayingButton, analysisButton,
             elapsedLabel,   remainLabel, volDownButton, volUpButton,      lockBtn,
             deviceButton,   toolsButton})
        if (w && !w->parent())
            delete w;
}

} // namespace ql
