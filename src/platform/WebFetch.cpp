#include "platform/WebFetch.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace ql::platform {

const char* const kUserAgent = "Quavelark/1.0 (personal local music player)";

namespace {

std::optional<QJsonValue> parseTopLevel(const QByteArray& body) {
    if (body.isEmpty())
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    if (doc.isArray())
        return QJsonValue(doc.array());
    if (doc.isObject())
        return QJsonValue(doc.object());
    return std::nullopt;
}

int statusOf(const QNetworkReply* reply) {
    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return code.isValid() ? code.toInt() : 0;
}

// The network thread and the access manager that lives on it. Made on first
// use, stopped when the application object goes away.
class WebWorker {
public:
    static WebWorker* instance() {
        static WebWorker* worker = [] {
            auto* w = new WebWorker;
            qAddPostRoutine(&WebWorker::shutDown);
            return w;
        }();
        return worker;
    }

    void fetch(const QUrl& url, BytesCompletion completion, const WebFetchOptions& options) {
        QMutexLocker lock(&m_mutex);
        if (m_stopped) {
            lock.unlock();
            completion(std::nullopt);
            return;
        }
        QMetaObject::invokeMethod(
            m_context,
            [this, url, completion = std::move(completion), options]() mutable {
                start(url, std::move(completion), options);
            },
            Qt::QueuedConnection);
    }

private:
    WebWorker() {
        m_thread.setObjectName(QStringLiteral("Quavelark.web"));
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        m_thread.start();
    }

    static void shutDown() { instance()->stop(); }

    void stop() {
        {
            QMutexLocker lock(&m_mutex);
            if (m_stopped)
                return;
            m_stopped = true;
        }
        // Requests handed over before this point run first (queued calls keep
        // their order); then every one still open is aborted, which calls its
        // completion with nothing.
        QMetaObject::invokeMethod(
            m_context,
            [this] {
                // Aborting finishes the reply at once, which takes it out of
                // the set: walk a copy.
                const QSet<QNetworkReply*> open = m_replies;
                for (QNetworkReply* reply : open)
                    reply->abort();
                delete m_manager;
                m_manager = nullptr;
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
        delete m_context;
        m_context = nullptr;
    }

    // On the network thread.
    void start(const QUrl& url, BytesCompletion completion, const WebFetchOptions& options) {
        if (!url.isValid() || !options.schemes.contains(url.scheme().toLower())) {
            completion(std::nullopt);
            return;
        }
        if (!m_manager)
            m_manager = new QNetworkAccessManager(m_context);

        QNetworkRequest request(url);
        // A time-out of 0 would switch the limit off; never allow that.
        request.setTransferTimeout(std::max(1, options.timeoutMs));
        request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(kUserAgent));
        // Each redirect is judged here: its target must be in the scheme set,
        // and never less safe than where it came from.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::UserVerifiedRedirectPolicy);
        QNetworkReply* reply = m_manager->get(request);
        m_replies.insert(reply);
        QObject::connect(reply, &QNetworkReply::redirected, reply,
                         [reply, schemes = options.schemes](const QUrl& target) {
                             const QString to = target.scheme().toLower();
                             const bool downgrade =
                                 reply->url().scheme().toLower() == QLatin1String("https") &&
                                 to != QLatin1String("https");
                             if (schemes.contains(to) && !downgrade)
                                 emit reply->redirectAllowed();
                             else
                                 reply->abort();
                         });
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        QObject::connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
        deadline->start(std::max(1, options.deadlineMs));

        struct Transfer {
            QByteArray body;
            bool refused = false; // too large, or an answer we will not use
        };
        auto transfer = std::make_shared<Transfer>();
        const qint64 cap = options.maxBodyBytes;

        // Give up as early as the answer shows it is of no use: a final status
        // other than 200, or a declared length above the cap.
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, transfer, cap] {
            const int status = statusOf(reply);
            if (status >= 300 && status < 400)
                return; // a redirect on its way to the final answer
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if ((status != 0 && status != 200) || (length.isValid() && length.toLongLong() > cap)) {
                transfer->refused = true;
                reply->abort();
            }
        });
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer, cap] {
            if (transfer->refused)
                return;
            transfer->body += reply->readAll();
            if (transfer->body.size() > cap) {
                transfer->refused = true;
                transfer->body.clear();
                reply->abort();
            }
        });
        QObject::connect(
            reply, &QNetworkReply::finished, m_context,
            [this, reply, transfer, cap, completion = std::move(completion)] {
                m_replies.remove(reply);
                reply->deleteLater();
                std::optional<QByteArray> body;
                if (!transfer->refused && reply->error() == QNetworkReply::NoError &&
                    statusOf(reply) == 200) {
                    transfer->body += reply->readAll();
                    if (transfer->body.size() <= cap)
                        body = std::move(transfer->body);
                }
                completion(std::move(body));
            },
            Qt::DirectConnection);
    }

    QMutex m_mutex;
    bool m_stopped = false; // guarded by m_mutex

    QThread m_thread;
    QObject* m_context = nullptr; // lives on m_thread
    // Network-thread only:
    QNetworkAccessManager* m_manager = nullptr;
    QSet<QNetworkReply*> m_replies; // started and not yet finished
};

} // namespace

void getJSON(const QUrl& url, JSONCompletion completion, const WebFetchOptions& options) {
    if (!completion)
        completion = [](std::optional<QJsonValue>) {};
    getBytes(
        url,
        [completion = std::move(completion)](std::optional<QByteArray> body) {
            completion(body ? parseTopLevel(*body) : std::nullopt);
        },
        options);
}

void getBytes(const QUrl& url, BytesCompletion completion, const WebFetchOptions& options) {
    if (!completion)
        completion = [](std::optional<QByteArray>) {};
    WebWorker::instance()->fetch(url, std::move(completion), options);
}

} // namespace ql::platform
