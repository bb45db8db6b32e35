#pragma once

#include <QUrl>

namespace orvix {

// Where an update feed may come from: HTTPS anywhere, plain HTTP only from
// this machine (tests serve feeds on loopback).
bool isAllowedFeedAddress(const QUrl& url);

} // namespace orvix
