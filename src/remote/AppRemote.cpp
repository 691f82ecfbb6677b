// ---- remote: the phone remote's dialog, and what the server asks of the player ----
//
// showRemote() makes the access token once (stored under "remoteToken" before
// any server uses it, and never changed afterwards, so an address once given to
// a phone stays valid across restarts; only a token too short to withstand
// guessing is replaced, at launch, and the user told that the old address no
// longer works), starts the server when none runs,
// picks the local address and shows the dialog. The server runs on the main
// event loop; the dialog's own event loop keeps it serving while the dialog is
// open, so a phone may act on the player meanwhile.
//
// The server's three callbacks hold the controller through a guarded pointer
// and answer {} (state, command) or [] (search) once it is gone. They run on
// the main thread, one request at a time: the search runs on every keystroke
// of the phone's search field, so it matches through the browser's memo of
// each row's search text instead of normalising the catalog afresh.
//
// The dialog is a QMessageBox: the message, the informative text translated
// whole (the phrase table replaces the two sentences; the address between
// them is no phrase and stays as it is), the QR code in a 220 x 220 label
// below the texts (empty when it cannot be made) and three buttons in a
// fixed order.
#include "app/App.h"

#include "app/UserDefaults.h"
#include "playback/NowPlayingStatus.h"
#include "remote/LocalNetwork.h"
#include "remote/QrImage.h"
#include "remote/RemoteControl.h"
#include "remote/RemoteServer.h"
#include "ui/CatalogFilter.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHash>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace ql {

using ql::remote::RemoteServer;

namespace {
// The side of the QR code in the dialog, in pixels.
constexpr int kQrSide = 220;

// The dialog's buttons, in their order.
enum RemoteButton { CopyAddress = 0, Close = 1, TurnOff = 2 };

// Puts `view` between the texts and the buttons of a box whose texts are set.
void placeBelowTexts(QMessageBox& box, QWidget* view) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    auto* buttons = box.findChild<QDialogButtonBox*>();
    if (!grid || !buttons) {
        box.layout()->addWidget(view);
        return;
    }
    grid->removeWidget(buttons);
    const int row = grid->rowCount();
    grid->addWidget(view, row, grid->columnCount() - 1, Qt::AlignLeft);
    grid->addWidget(buttons, row + 1, 0, 1, grid->columnCount());
}

// The status line's words for a server that could not listen. Qt describes
// the failure in English only, so in Korean mode the known causes are worded
// in Korean (Qt's socket texts name them) and any other is named by its port
// alone; in English mode an unknown cause keeps Qt's description.
QString listenFailure(const QString& qtError, quint16 port) {
    static const QHash<QString, QString> known{
        {QStringLiteral("The bound address is already in use"),
         QStringLiteral("다른 프로그램이 이 포트를 쓰고 있습니다")},
        {QStringLiteral("The address is protected"),
         QStringLiteral("이 포트를 열 권한이 없습니다")},
        {QStringLiteral("The address is not available"),
         QStringLiteral("이 컴퓨터에서 쓸 수 없는 주소입니다")},
    };
    QString reason = known.value(qtError);
    const bool unknown = reason.isEmpty();
    if (unknown)
        reason = QStringLiteral("포트를 열 수 없습니다");
    QString text = L10n::tr(QStringLiteral("리모컨 서버 시작 실패: ")) + L10n::tr(reason) +
                   QStringLiteral(" (") + QString::number(port) + QLatin1Char(')');
    if (unknown && L10n::isEnglish() && !qtError.isEmpty())
        text += QStringLiteral(": ") + qtError;
    return text;
}

const QString kAddressChanged =
    QStringLiteral("리모컨 주소가 바뀌었습니다. 예전 주소(QR)는 이제 쓸 수 없으니 새 주소로 다시 "
                   "연결하세요.");

// The stored token, a new one stored in its place when there is none or only
// a weak one.
QString usableToken() {
    UserDefaults defaults;
    const QString stored = defaults.string(keys::kRemoteToken).value_or(QString());
    if (!stored.isEmpty() && !ql::remote::isWeakToken(stored))
        return stored;
    const QString token = ql::remote::drawRemoteToken(*QRandomGenerator::system());
    defaults.set(keys::kRemoteToken, token);
    defaults.sync();
    return token;
}
} // namespace

void App::renewWeakRemoteToken() {
    if (!ql::remote::isWeakToken(UserDefaults().string(keys::kRemoteToken).value_or(QString())))
        return;
    usableToken();
    remoteTokenReplaced = true;
    // Told once, at launch, and the user must act on it: a notice, which the
    // list's count and a starting track's messages do not replace.
    status->setNotice(L10n::tr(kAddressChanged));
}

void App::showRemote() {
    if (!remote) {
        // A weak stored token was already replaced (and told) at launch.
        const QString token = usableToken();
        auto server = std::make_unique<RemoteServer>(token, remotePort);
        QPointer<App> self(this);
        server->onState = [self] { return self ? self->remoteState() : QVariantMap(); };
        server->onCommand = [self](const QString& command, const ql::remote::Query& query) {
            return self ? self->remoteCommand(command, query) : QVariantMap();
        };
        server->onSearch = [self](const QString& text) {
            return self ? self->remoteSearch(text) : QVariantList();
        };
        const QString error = server->start();
        if (!error.isEmpty()) {
            status->setFailure(listenFailure(error, server->port()));
            return;
        }
        remote = std::move(server);
    }
    const std::optional<QString> ip = ql::remote::chooseLanAddress(services.tools->networkFacts());
    if (!ip) {
        status->setStringValue(
            L10n::tr(QStringLiteral("Wi-Fi 주소를 찾지 못했습니다. 네트워크 연결을 확인하세요.")));
        return;
    }
    const QString address = ql::remote::remoteAddress(*ip, remote->port(), remote->token());
    const int answer = askRemote(address);
    remoteTokenReplaced = false; // the dialog said it
    switch (answer) {
    case CopyAddress:
        QGuiApplication::clipboard()->setText(address);
        break;
    case TurnOff:
        // A phone's command may have quit meanwhile; then there is nothing to stop.
        if (remote) {
            remote->stop();
            remote.reset();
        }
        status->setStringValue(L10n::tr(QStringLiteral("리모컨 서버를 껐습니다.")));
        break;
    default:
        break;
    }
}

int App::askRemote(const QString& address) {
    const QString text = L10n::tr(QStringLiteral("📱 폰 리모컨"));
    const QString info = L10n::tr(
        QStringLiteral("폰을 이 컴퓨터와 같은 Wi-Fi에 연결하고 카메라로 QR을 스캔하세요.") + u'\n' +
        address + QStringLiteral("\n\n") +
        QStringLiteral("주소의 토큰을 아는 기기만 조작할 수 있고, 재생·검색·음량만 가능합니다.") +
        (remoteTokenReplaced ? QStringLiteral("\n\n") + kAddressChanged : QString()));
    const QStringList titles{L10n::tr(QStringLiteral("주소 복사")),
                             L10n::tr(QStringLiteral("닫기")),
                             L10n::tr(QStringLiteral("리모컨 서버 끄기"))};
    QMessageBox box(window.get());
    // The texts come translated, the address in them as it is: the pass
    // leaves the box alone.
    Translator::exempt(&box);
    box.setIcon(QMessageBox::Information);
    box.setText(text);
    box.setInformativeText(info);
    QList<QPushButton*> buttons;
    // One role for all three keeps them in this order on every desktop.
    for (const QString& title : titles)
        buttons << box.addButton(title, QMessageBox::ActionRole);
    box.setDefaultButton(buttons[CopyAddress]);
    box.setEscapeButton(buttons[Close]);
    auto* qr = new QLabel;
    qr->setObjectName(QStringLiteral("remoteQr"));
    qr->setFixedSize(kQrSide, kQrSide);
    const QImage image = ql::remote::qrImage(address, kQrSide);
    if (!image.isNull())
        qr->setPixmap(QPixmap::fromImage(image));
    placeBelowTexts(box, qr);
    return int(buttons.indexOf(qobject_cast<QPushButton*>(services.desktop->alert(box))));
}

QVariantMap App::remoteState() const {
    const std::optional<Track>& track = playback.current;
    const std::optional<double> pos = audioCurrentTime(), dur = audioDuration();
    return {
        {QStringLiteral("id"), track ? track->id : qint64(0)},
        {QStringLiteral("title"), track ? track->title : QString()},
        {QStringLiteral("artist"), track ? track->artist : QString()},
        // As the desktop is told: a track asked for plays while it is prepared.
        {QStringLiteral("playing"), playsAsAsked(*this)},
        {QStringLiteral("pos"), pos ? QVariant(*pos) : QVariant(0)},
        {QStringLiteral("dur"), dur ? QVariant(*dur) : QVariant(0)},
        {QStringLiteral("vol"), int(std::trunc(views.volume->doubleValue()))},
    };
}

QVariantMap App::remoteCommand(const QString& command, const QHash<QString, QString>& query) {
    using ql::remote::parseWholeNumber;
    const QString v = query.value(QStringLiteral("v"));
    if (command == u"toggle") {
        toggle();
    } else if (command == u"next") {
        next();
    } else if (command == u"prev") {
        previous();
    } else if (command == u"radio") {
        startRadio();
    } else if (command == u"vol") {
        if (const std::optional<double> value = parseWholeNumber(v)) {
            views.volume->setDoubleValue(ql::remote::remoteVolume(*value));
            volumeChanged();
        }
    } else if (command == u"seek") {
        if (const std::optional<double> value = parseWholeNumber(v)) {
            cancelPrepared();
            // An infinite or undefined position means nothing to a player.
            if (playback.audio && std::isfinite(*value))
                setAudioTime(*value);
            publish();
        }
    } else if (command == u"play") {
        if (const std::optional<qint64> id =
                ql::remote::parseWholeInteger(query.value(QStringLiteral("id")))) {
            const auto it = std::ranges::find(library.rows, *id, &Track::id);
            if (it != library.rows.end())
                play(Track(*it)); // a copy: the play request may replace the catalog
        }
    }
    return remoteState();
}

QVariantList App::remoteSearch(const QString& query) {
    MatchInput match;
    match.searchText = query;
    // The memo the catalog worker filled from this very catalog needs no check.
    match.memoCurrent =
        catalogWork().threaded() && library.memoGeneration == library.catalogGeneration;
    SearchMemo& memo = memoForPass(browser.searchMemo, match.memoCurrent, library.rows.size());
    return ql::remote::searchResults(library.rows, matchedRows(library.rows, match, memo));
}

QPushButton* App::makeRemoteButton(QWidget* parent) {
    QPushButton* b = button(QStringLiteral("📱 리모컨"), weakCall(&App::showRemote));
    b->setParent(parent);
    b->setToolTip(QStringLiteral("같은 Wi-Fi의 폰으로 재생·검색 (QR)"));
    return b;
}

} // namespace ql
