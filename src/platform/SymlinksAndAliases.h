#pragma once

#include <QString>
#include <optional>

namespace orvix {

// Path resolution through symbolic links, the only kind of link here. A
// chain of links is followed for at most kMaxLinkSteps steps, so a cycle ends
// with nothing instead of running forever.
inline constexpr int kMaxLinkSteps = 40;

// The absolute path with every component's links resolved; nothing when the
// standardized path is not absolute or a component cannot be resolved.
std::optional<QString> stringByResolvingSymlinksAndAliases(const QString& path);
// The final target after following links one after another.
std::optional<QString> stringByIterativelyResolvingSymlinkOrAlias(const QString& path);
// The link's target, or the path itself when it is no link.
QString stringByResolvingSymlink(const QString& path);
// The link's target, or nothing when it is no link.
std::optional<QString> stringByConditionallyResolvingSymlink(const QString& path);
// Cleans the path and expands a leading "~".
QString stringByStandardizingPath(const QString& path);

// Puts the text between single quotes for /bin/sh, single quotes included.
QString shellQuote(const QString& text);

} // namespace orvix
