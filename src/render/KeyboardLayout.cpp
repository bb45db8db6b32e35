#include "render/KeyboardLayout.h"

#include "render/KeyView.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <numeric>

namespace orvix {

namespace {

constexpr qreal kMargin = 4;
constexpr qreal kGap = 2;
constexpr int64_t kUpArrow = 126;
constexpr int64_t kDownArrow = 125;

// A column of a row: one key, or the up arrow stacked above the down arrow.
struct Column {
    std::vector<int64_t> codes;
    qreal width() const {
        qreal w = 0;
        for (int64_t c : codes)
            w = std::max(w, KeyView::sizeForCode(c).width());
        return w;
    }
    qreal height() const {
        qreal h = 0;
        for (int64_t c : codes)
            h += KeyView::sizeForCode(c).height();
        return h;
    }
};

using Row = std::vector<Column>;

Row row(std::initializer_list<int64_t> codes) {
    Row r;
    for (int64_t c : codes)
        r.push_back(Column{{c}});
    return r;
}

std::array<Row, 6> rows() {
    Row bottom = row({63, 59, 58, 55, 49, 54, 61, 123});
    bottom.push_back(Column{{kUpArrow, kDownArrow}});
    bottom.push_back(Column{{124}});
    return {
        row({53, 122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 105}),
        row({50, 18, 19, 20, 21, 23, 22, 26, 28, 25, 29, 27, 24, 51}),
        row({48, 12, 13, 14, 15, 17, 16, 32, 34, 31, 35, 33, 30, 42}),
        row({57, 0, 1, 2, 3, 5, 4, 38, 40, 37, 41, 39, 36}),
        row({56, 6, 7, 8, 9, 11, 45, 46, 43, 47, 44, 60}),
        bottom,
    };
}

qreal naturalWidth(const Row& r) {
    qreal w = kGap * static_cast<qreal>(r.size() - 1);
    for (const Column& c : r)
        w += c.width();
    return w;
}

qreal rowHeight(const Row& r) {
    qreal h = 0;
    for (const Column& c : r)
        h = std::max(h, c.height());
    return h;
}

qreal contentWidth(const std::array<Row, 6>& all) {
    qreal w = 0;
    for (const Row& r : all)
        w = std::max(w, naturalWidth(r));
    return w;
}

} // namespace

std::vector<KeyPlacement> keyboardLayout() {
    const auto all = rows();
    const qreal width = contentWidth(all);
    std::vector<KeyPlacement> keys;
    qreal top = kMargin;
    for (const Row& r : all) {
        const qreal height = rowHeight(r);
        // Spread what the row lacks of the full width over its gaps.
        const qreal gap =
            r.size() > 1 ? kGap + (width - naturalWidth(r)) / static_cast<qreal>(r.size() - 1) : 0;
        qreal left = kMargin;
        for (const Column& c : r) {
            if (c.codes.size() == 1) {
                const QSizeF size = KeyView::sizeForCode(c.codes.front());
                // Half-height keys sit at the bottom of the row, with the down arrow.
                qreal y = top + height - size.height();
                if (size.height() > 32)
                    y = top + (height - size.height()) / 2;
                keys.push_back({c.codes.front(), QRectF(QPointF(left, y), size)});
            } else {
                qreal y = top + height - c.height();
                for (int64_t code : c.codes) {
                    const QSizeF size = KeyView::sizeForCode(code);
                    keys.push_back({code, QRectF(QPointF(left, y), size)});
                    y += size.height();
                }
            }
            left += c.width() + gap;
        }
        top += height + kGap;
    }
    return keys;
}

QSizeF keyboardLayoutSize() {
    const auto all = rows();
    qreal height = 0;
    for (const Row& r : all)
        height += rowHeight(r);
    height += kGap * static_cast<qreal>(all.size() - 1);
    return {contentWidth(all) + 2 * kMargin, height + 2 * kMargin};
}

} // namespace orvix
