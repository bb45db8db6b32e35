#pragma once

#include <QColor>
#include <QPointF>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orvix {

// A two-colour linear gradient.
struct Gradient {
    QColor start;
    QColor end;
};

// A drop shadow: colour (alpha included), offset in points with y pointing up,
// and blur radius in points.
struct Shadow {
    QColor color;
    QPointF offset;
    qreal blurRadius = 0;
};

// The named gradients and shadows of one keyboard theme, one entry per drawn
// layer and look ("normalKeyFace", "pressedShadowGlyphs", ...). Entries keep
// the order in which they were added. Built once and never changed afterwards.
class ThemeDictionary {
public:
    using Value = std::variant<Gradient, Shadow>;

    // Adds an entry, or replaces the value of an existing key in place.
    void insert(std::string key, Value value);

    // Nothing when the key is missing or holds the other kind of value.
    const Gradient* gradient(std::string_view key) const;
    const Shadow* shadow(std::string_view key) const;

    std::size_t count() const { return _entries.size(); }
    const std::vector<std::pair<std::string, Value>>& entries() const { return _entries; }

private:
    const Value* find(std::string_view key) const;

    std::vector<std::pair<std::string, Value>> _entries;
};

} // namespace orvix
