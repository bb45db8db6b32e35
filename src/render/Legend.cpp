#include "render/Legend.h"

#include <algorithm>
#include <cmath>

namespace orvix {

// Defined in the generated data source.
std::span<const LegendData> legendTable();

std::span<const LegendData> allLegends() {
    return legendTable();
}

const LegendData* legendForCode(int64_t code) {
    const auto table = legendTable();
    // The generated table is sorted by key code.
    const auto it = std::lower_bound(table.begin(), table.end(), code,
                                     [](const LegendData& l, int64_t c) { return l.code < c; });
    return it != table.end() && it->code == code ? &*it : nullptr;
}

QPointF legendBoxOrigin(const LegendData& l, const QRectF& b) {
    // Whole points, so the legend keeps its crisp size on wider keys.
    return {b.x() + std::floor((b.width() - l.bw) * l.px + 0.5),
            b.y() + std::floor((b.height() - l.bh) * l.py + 0.5)};
}

QPainterPath legendPath(const LegendData& l, std::size_t index, const QRectF& b) {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    if (index >= l.paths.size())
        return path;
    const QPointF origin = l.form == LegendForm::Box ? legendBoxOrigin(l, b) : QPointF();
    auto point = [&](const double* c) -> QPointF {
        switch (l.form) {
        case LegendForm::KeyRelative:
            return {b.x() + c[0] * b.width(), b.y() + c[1] * b.height()};
        case LegendForm::Box:
            return {origin.x() + c[0], origin.y() + c[1]};
        case LegendForm::EdgeAnchored:
            return {b.x() + c[0], b.y() + b.height() - c[1]};
        }
        return {};
    };
    const LegendPathData& data = l.paths[index];
    const double* c = data.coords;
    for (char op : data.ops) {
        switch (op) {
        case 'M':
            path.moveTo(point(c));
            c += 2;
            break;
        case 'L':
            path.lineTo(point(c));
            c += 2;
            break;
        case 'C':
            path.cubicTo(point(c), point(c + 2), point(c + 4));
            c += 6;
            break;
        case 'Z':
            path.closeSubpath();
            break;
        default:
            break;
        }
    }
    return path;
}

int legendContourCount(const LegendPathData& path) {
    return static_cast<int>(std::count(path.ops.begin(), path.ops.end(), 'M'));
}

} // namespace orvix
