// ---- launch: the start-up sequence, open-files requests, reopen ----
#include "app/App.h"

#include "app/AppPaths.h"
#include "app/Delivery.h"
#include "downloader/FlacFetcher.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/BringBack.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QThreadPool>
#include <QTimer>

namespace ql {

namespace {

// Qt hands the keyboard focus to the first control in the tab chain when a
// window is first activated, which comes after the launch has cleared it;
// Space and the arrows would then act on that control. This takes it back
// once, right after that first activation.
class ClearFirstFocus final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowActivate) {
            auto* window = static_cast<QWidget*>(watched);
            window->removeEventFilter(this);
            // Queued: the focus is handed out after the activation event.
            QTimer::singleShot(0, window, [window] {
                if (QWidget* focused = window->focusWidget())
                    focused->clearFocus();
            });
            deleteLater();
        }
        return false;
    }
};

} // namespace

void App::applicationDidFinishLaunching() {
    // 1. A desktop program with a window is what a Qt application already is.
    step("activationPolicy");

    step("loadExtras");
    loadExtras();
    // Opening this run's folder for temporary audio clears what killed runs
    // left behind, before any track is played.
    workDir();

    step("icon");
    const QIcon icon(resourcePath(QStringLiteral("Quavelark.png")));
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        QApplication::setWindowIcon(icon);

    step("buildMenu");
    window = std::make_unique<QMainWindow>();
    buildMenu();

    step("createWindow");
    window->resize(1280, 820);
    step("title");
    window->setWindowTitle(QStringLiteral("Quavelark"));
    step("minimumSize");
    window->setMinimumSize(1180, 700);
    step("centre");
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }

    step("buildMainUI");
    buildMainUI();

    step("wireFetcher");
    QPointer<App> self(this);
    fetcher->onPreviewStart = [self] {
        if (self && self->isPlaying())
            self->toggle();
    };
    fetcher->makePreviewPlayer =
        [self](const QUrl& address) -> std::unique_ptr<platform::AudioPlayer> {
        if (!self)
            return nullptr;
        return self->makePreviewPlayer(address);
    };
    fetcher->onSaved = [self](const QString& path) {
        if (self)
            self->core.pendingAdds << path;
    };
    fetcher->onFinished = [self](int) {
        if (self)
            self->core.needsScan = true;
    };

    step("restoreCatalog");
    restoreCatalog();
    step("startBackend");
    startBackend();
    discoverPlugins();
    step("registerRemote");
    registerRemote();
    step("registerVolumeKeys");
    registerVolumeKeys();

    step("startTimer");
    timer = new QTimer(window.get());
    timer->setInterval(500);
    connect(timer, &QTimer::timeout, this, &App::tick);
    timer->start();

    step("showWindow");
    window->show();
    window->raise();
    step("noFirstResponder");
    if (QWidget* focused = window->focusWidget())
        focused->clearFocus();
    if (!window->isActiveWindow())
        window->installEventFilter(new ClearFirstFocus(window.get()));
    step("activate");
    window->activateWindow();

    step("queueToolCheck");
    QTimer::singleShot(0, this, [self] {
        if (self)
            self->checkMissingTools();
    });

    step("launched");
    core.launched = true;
    // The quit's own order (app/AppShutdown.cpp) runs before the event loop
    // ends, while every object it touches is still there.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            &App::applicationWillTerminate, Qt::UniqueConnection);

    if (!core.waitingFiles.isEmpty()) {
        const QStringList files = std::exchange(core.waitingFiles, {});
        step("openAudioFiles", files);
        openAudioFiles(files);
    }

    step("pointerMonitor");
    installPointerMonitor();
    step("keyMonitor");
    installKeyMonitor();
}

void App::applicationOpen(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    if (core.launched) {
        step("openAudioFiles", paths);
        openAudioFiles(paths);
    } else {
        core.waitingFiles << paths;
    }
}

void App::applicationShouldHandleReopen() {
    bringBack(window.get());
}

void App::checkMissingTools() {
    // An answer that comes after App is gone is dropped.
    services.tools->findMissingTools(*this,
                                     [this](const QStringList& missing) { offerSetup(missing); });
}

void App::offerSetup(const QStringList& missing) {
    if (missing.isEmpty())
        return;
    const QString names = missing.join(QStringLiteral(", "));
    // The password the alert speaks of is the user's own: the setup script's
    // `sudo apt-get` asks for it.
    const QString text = L10n::tr(QStringLiteral("필요한 프로그램을 설치할까요?"));
    const QString info =
        L10n::tr(QStringLiteral("Quavelark이 동작하려면 ") + names +
                 QStringLiteral("가 필요해요. '자동 설치'를 누르면 터미널이 열려 "
                                "알아서 설치합니다(5분 안팎, 비밀번호 입력이 "
                                "필요할 수 있어요). 끝나면 앱을 다시 실행하세요."));
    const QStringList buttons{L10n::tr(QStringLiteral("자동 설치")),
                              L10n::tr(QStringLiteral("나중에"))};
    status->setStringValue(QStringLiteral("필요한 프로그램 없음: ") + names);

    const int chosen = askAlert(text, info, buttons, true);
    if (chosen == 0) {
        services.desktop->runSetupInTerminal(*this);
    }
}

int App::askAlert(const QString& text, const QString& info, const QStringList& buttons,
                  bool warning) {
    QMessageBox box(window.get());
    // The texts come worded as they must show: the pass leaves them alone.
    Translator::exempt(&box);
    box.setIcon(warning ? QMessageBox::Warning : QMessageBox::Information);
    box.setText(text);
    box.setInformativeText(info);
    QPushButton* first = box.addButton(buttons.value(0), QMessageBox::AcceptRole);
    box.addButton(buttons.value(1), QMessageBox::RejectRole);
    return services.desktop->alert(box) == first ? 0 : 1;
}

} // namespace ql
