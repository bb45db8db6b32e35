#pragma once

#include <QByteArray>
#include <QUrl>

namespace orvix {

// Where an update feed may come from: HTTPS anywhere, plain HTTP only from
// this machine (tests serve feeds on loopback). Every redirect target is held
// to the same rule.
bool isAllowedFeedAddress(const QUrl& url);

// HTTP or HTTPS to this machine only.
bool isLoopbackAddress(const QUrl& url);

// The feed this process checks: the built-in address, unless `override` (the
// ORVIX_UPDATE_FEED environment value) names a feed on this machine. A
// replacement can never point the check, and the profile sent with it, at
// another host.
QUrl feedAddress(const QByteArray& builtIn, const QByteArray& override);

// What the update button may open: an HTTPS page, nothing else.
bool isAllowedReleasePage(const QUrl& url);

} // namespace orvix
