#include "platform/UrlEncode.h"

#include <QUrl>

namespace orvix {

QString urlEncode(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

} // namespace orvix
