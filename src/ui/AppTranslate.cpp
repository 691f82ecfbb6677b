// ---- translation: the pass that shows Korean texts in English ----
#include "app/App.h"

#include "ui/l10n/Translator.h"

namespace ql {

void App::translateUI() {
    Translator::translateAll();
}
void App::translateView(QWidget* view) {
    Translator::translateView(view);
}
void App::translateMenu(QMenu* menu) {
    Translator::translateMenu(menu);
}

} // namespace ql
