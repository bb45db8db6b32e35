#include "platform/FeedAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace orvix {
namespace {

// 127.0.0.0/8, ::1 and IPv4 loopback written as IPv6.
bool isLoopbackLiteral(const QString& host) {
    const QByteArray text = host.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.constData(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    return false;
}

bool isHttps(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() && url.scheme() == QLatin1String("https");
}

} // namespace

bool isLoopbackAddress(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return false;
    return url.host() == QLatin1String("localhost") || isLoopbackLiteral(url.host());
}

bool isAllowedFeedAddress(const QUrl& url) {
    return isHttps(url) || isLoopbackAddress(url);
}

QUrl feedAddress(const QByteArray& builtIn, const QByteArray& override) {
    if (!override.isEmpty()) {
        const QUrl replacement(QString::fromUtf8(override), QUrl::StrictMode);
        if (isLoopbackAddress(replacement))
            return replacement;
    }
    return QUrl(QString::fromUtf8(builtIn));
}

bool isAllowedReleasePage(const QUrl& url) {
    return isHttps(url);
}

} // namespace orvix
