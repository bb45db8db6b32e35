#pragma once

#include <QString>

namespace orvix {

// Percent-escapes the UTF-8 form of the text so it can stand in any part of
// an address: only letters, digits and "-._~" stay as they are.
QString urlEncode(const QString& text);

} // namespace orvix
