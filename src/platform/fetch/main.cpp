// orvix-fetch: downloads one document over HTTPS (or plain HTTP from this
// machine) and writes it to standard output. The update check runs it as a
// child process, so the keyboard itself never loads the TLS stack, its
// resolver threads or their memory, and a check cannot stall the panel.
//
//   orvix-fetch [--timeout-ms N] [--max-bytes N] [--user-agent TEXT] URL
//
// Exit 0: the body is on standard output. Exit 1: the transfer failed; one
// line on standard error says why. Exit 2: bad arguments.
#include "platform/FeedAddress.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QUrl>
#include <cstdio>
#include <unistd.h>

namespace {

int fail(const QString& why) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(QString(why).replace(QLatin1Char('\n'), ' ')));
    return 1;
}

bool writeAll(const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, static_cast<size_t>(left));
        if (n < 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

int usage() {
    std::fputs("usage: orvix-fetch [--timeout-ms N] [--max-bytes N] [--user-agent TEXT] URL\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int timeoutMs = 30000;
    qint64 maxBytes = 4 * 1024 * 1024;
    QString userAgent;
    QUrl url;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        bool ok = true;
        if (arg == QLatin1String("--timeout-ms") && !args.isEmpty())
            timeoutMs = args.takeFirst().toInt(&ok);
        else if (arg == QLatin1String("--max-bytes") && !args.isEmpty())
            maxBytes = args.takeFirst().toLongLong(&ok);
        else if (arg == QLatin1String("--user-agent") && !args.isEmpty())
            userAgent = args.takeFirst();
        else if (!arg.startsWith(QLatin1String("--")) && url.isEmpty() && args.isEmpty())
            url = QUrl(arg, QUrl::StrictMode);
        else
            return usage();
        if (!ok || timeoutMs <= 0 || maxBytes <= 0)
            return usage();
    }
    if (url.isEmpty())
        return usage();
    if (!orvix::isAllowedFeedAddress(url))
        return fail(QStringLiteral("the address is not HTTPS"));

    QNetworkAccessManager network;
    // Every hop is held to the rule the first address passed: a loopback feed
    // must not hand the request (and the profile in it) to another host.
    network.setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(5);
    request.setTransferTimeout(timeoutMs);
    if (!userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
    QNetworkReply* reply = network.get(request);
    bool tooLarge = false;
    QUrl refusedRedirect;
    QObject::connect(reply, &QNetworkReply::redirected, reply, [&](const QUrl& target) {
        if (orvix::isAllowedFeedAddress(target)) {
            emit reply->redirectAllowed();
            return;
        }
        refusedRedirect = target;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [&](qint64 received, qint64) {
        if (received > maxBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &app, &QCoreApplication::quit);
    app.exec();

    if (!refusedRedirect.isEmpty())
        return fail(QStringLiteral("the server redirected to an address that is not HTTPS (%1)")
                        .arg(refusedRedirect.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery)));
    if (tooLarge)
        return fail(QStringLiteral("the document is larger than %1 bytes").arg(maxBytes));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError)
        return fail(reply->errorString());
    if (status != 0 && status != 200)
        return fail(QStringLiteral("the server answered %1").arg(status));
    if (!writeAll(reply->readAll()))
        return fail(QStringLiteral("cannot write the document"));
    return 0;
}
