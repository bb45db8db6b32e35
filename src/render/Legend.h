#pragma once

#include <QPainterPath>
#include <QRectF>
#include <cstdint>
#include <span>
#include <string_view>

namespace orvix {

// How a legend's stored coordinates map onto a key's bounds (x, y, w, h; y up).
enum class LegendForm : uint8_t {
    // (x + fx * w, y + fy * h): the legend stretches with the key.
    KeyRelative,
    // Offsets in points from a box origin that lands on whole points:
    // bx = x + floor((w - bw) * px + 0.5), by = y + floor((h - bh) * py + 0.5).
    Box,
    // (x + dx, y + h - dy): fixed distance from the key's left and top edges.
    EdgeAnchored,
};

// One path object of a legend: closed contours as a list of operations
// ('M' move, 'L' line, 'C' cubic, 'Z' close) and their coordinate pairs
// (one pair for M and L, three for C).
struct LegendPathData {
    std::string_view ops;
    const double* coords;
};

struct LegendData {
    int code;
    LegendForm form;
    double bw, bh, px, py; // Box form only
    std::span<const LegendPathData> paths;
};

// The stored legend of a key code; nothing for Space and for codes without a
// key of their own.
const LegendData* legendForCode(int64_t code);
std::span<const LegendData> allLegends();

// Origin of a Box legend within the given key bounds.
QPointF legendBoxOrigin(const LegendData& legend, const QRectF& bounds);

// The path object `index` of a legend, placed in the given key bounds.
QPainterPath legendPath(const LegendData& legend, std::size_t index, const QRectF& bounds);

// Number of closed contours of one stored path.
int legendContourCount(const LegendPathData& path);

} // namespace orvix
