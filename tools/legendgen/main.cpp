// legendgen: turns glyph outlines of a freely licensed font into the stored
// key legends. Run by hand; the output is committed, so the program itself
// never reads a font.
#include "render/KeyView.h"
#include "render/Legend.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPainterPath>
#include <QRawFont>
#include <QSaveFile>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

using namespace orvix;

namespace {

const char* kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Sizes in points (the em of the font).
constexpr qreal kLetterCapHeight = 13.0; // letters: 0.42 to 0.67 of a 52-point key
constexpr qreal kDigitEm = 15.5;         // stacked digit and punctuation legends
constexpr qreal kStackGap = 7.5;         // between the two stacked characters
constexpr qreal kWordEm = 9.0;           // word labels of the special keys
constexpr qreal kSymbolEm = 13.0;        // the command symbol
constexpr qreal kWordLeft = 8.5;         // edge-anchored words: from the left edge
constexpr qreal kWordBottom = 10.0;      // ... and their bottom from the key's bottom

struct Legend {
    Legend(int c, LegendForm f, qreal w = 0, qreal h = 0, qreal x = 0, qreal y = 0)
        : code(c), form(f), bw(w), bh(h), px(x), py(y) {}
    int code = 0;
    LegendForm form = LegendForm::KeyRelative;
    qreal bw = 0, bh = 0, px = 0, py = 0;
    std::vector<QPainterPath> paths; // in key points (y up, origin at the key's bottom left),
                                     // or box points for the box form
    int expectedContours = -1;       // -1: any
};

QRawFont gFont;

// Outline of a string at the given em, y up, pen starting at the origin on the baseline.
QPainterPath text(const QString& s, qreal em) {
    gFont.setPixelSize(em);
    const auto glyphs = gFont.glyphIndexesForString(s);
    const auto advances = gFont.advancesForGlyphIndexes(glyphs);
    QPainterPath out;
    out.setFillRule(Qt::WindingFill);
    qreal pen = 0;
    for (int i = 0; i < glyphs.size(); ++i) {
        QPainterPath g = gFont.pathForGlyph(glyphs[i]);
        out.addPath(QTransform(1, 0, 0, -1, pen, 0).map(g));
        pen += advances[i].x();
    }
    return out;
}

QRectF inkOf(const std::vector<QPainterPath>& paths) {
    QRectF r;
    for (const auto& p : paths)
        r = r.isNull() ? p.boundingRect() : r.united(p.boundingRect());
    return r;
}

void transformAll(std::vector<QPainterPath>& paths, const QTransform& t) {
    for (auto& p : paths)
        p = t.map(p);
}

enum Align { Left, Centre, Right };
enum VAlign { Bottom, Middle, Top };

// Moves the ink to the area's side or centre.
void align(std::vector<QPainterPath>& paths, const QRectF& area, Align h, VAlign v) {
    const QRectF ink = inkOf(paths);
    const qreal x = h == Left    ? area.left() - ink.left()
                    : h == Right ? area.right() - ink.right()
                                 : area.center().x() - ink.center().x();
    const qreal y = v == Bottom ? area.top() - ink.top()       // y up: top() is the bottom
                    : v == Top  ? area.bottom() - ink.bottom() // ... and bottom() the top
                                : area.center().y() - ink.center().y();
    transformAll(paths, QTransform::fromTranslate(x, y));
}

// Scales down (never up) to fit the area, then aligns the ink in it. With
// `heightOnly` the width may spill over evenly, so that narrow boxes do not
// shrink their characters below the size of the others.
void fit(std::vector<QPainterPath>& paths, const QRectF& area, Align h, VAlign v,
         bool allowGrow = false, bool heightOnly = false) {
    QRectF ink = inkOf(paths);
    qreal s = area.height() / ink.height();
    if (!heightOnly)
        s = std::min(s, area.width() / ink.width());
    if (!allowGrow)
        s = std::min<qreal>(s, 1.0);
    transformAll(paths, QTransform::fromScale(s, s));
    align(paths, area, h, v);
}

// Stretches the ink to fill the area exactly, across and down: a word whose
// proportions differ from its box's is condensed or widened to fit it.
void fill(std::vector<QPainterPath>& paths, const QRectF& area) {
    const QRectF ink = inkOf(paths);
    transformAll(paths,
                 QTransform::fromScale(area.width() / ink.width(), area.height() / ink.height()));
    align(paths, area, Left, Bottom);
}

QSizeF keySize(int code) {
    return KeyView::sizeForCode(code);
}

QRectF relativeArea(int code, qreal fx0, qreal fx1, qreal fy0, qreal fy1) {
    const QSizeF s = keySize(code);
    return QRectF(QPointF(fx0 * s.width(), fy0 * s.height()),
                  QPointF(fx1 * s.width(), fy1 * s.height()));
}

Legend letter(int code, QChar c, int contours) {
    gFont.setPixelSize(100);
    const qreal em = kLetterCapHeight * 100 / gFont.capHeight();
    Legend l(code, LegendForm::KeyRelative);
    l.paths = {text(QString(c), em)};
    const QSizeF s = keySize(code);
    const QRectF ink = inkOf(l.paths);
    // Centred across, on a baseline at 0.42 of the key.
    transformAll(l.paths,
                 QTransform::fromTranslate(s.width() / 2 - ink.center().x(), 0.42 * s.height()));
    l.expectedContours = contours;
    return l;
}

Legend box(int code, qreal bw, qreal bh, qreal px, qreal py) {
    Legend l(code, LegendForm::Box, bw, bh, px, py);
    return l;
}

// A character with its shifted one stacked above, centred in its box.
Legend stacked(int code, const QString& lower, const QString& upper, qreal bw, qreal bh, qreal px,
               qreal py, int contours) {
    Legend l = box(code, bw, bh, px, py);
    gFont.setPixelSize(kDigitEm);
    const qreal lift = gFont.capHeight() + kStackGap;
    QPainterPath up = text(upper, kDigitEm);
    if (code == 39) {
        // The double quote is two marks: one path each, after the single quote.
        l.paths = {text(lower, kDigitEm)};
        QPainterPath left, right;
        // Split the contours of the double quote by their side of its centre.
        const qreal mid = up.boundingRect().center().x();
        QPainterPath current;
        std::vector<QPainterPath> parts;
        for (int i = 0; i < up.elementCount(); ++i) {
            const auto e = up.elementAt(i);
            if (e.isMoveTo() && !current.isEmpty()) {
                parts.push_back(current);
                current = QPainterPath();
            }
            if (e.isMoveTo())
                current.moveTo(e);
            else if (e.isLineTo())
                current.lineTo(e);
            else if (e.isCurveTo()) {
                current.cubicTo(e, up.elementAt(i + 1), up.elementAt(i + 2));
                i += 2;
            }
        }
        if (!current.isEmpty())
            parts.push_back(current);
        for (auto& part : parts) {
            part.closeSubpath();
            (part.boundingRect().center().x() < mid ? left : right).addPath(part);
        }
        l.paths.push_back(left.translated(0, lift));
        l.paths.push_back(right.translated(0, lift));
    } else {
        l.paths = {text(lower, kDigitEm), up.translated(0, lift)};
    }
    // Each character centred over the other, the pair fitted to its box.
    const qreal centre = inkOf({l.paths[0]}).center().x();
    for (std::size_t i = 1; i < l.paths.size(); ++i) {
        const qreal c = code == 39 ? inkOf({l.paths[1], l.paths[2]}).center().x()
                                   : l.paths[i].boundingRect().center().x();
        l.paths[i].translate(centre - c, 0);
    }
    fit(l.paths, QRectF(0, 0, bw, bh), Centre, Middle, false, true);
    const qreal spill = (inkOf(l.paths).width() - bw) / 2;
    if (spill > 0.01)
        std::printf("key %d: %.2f points wider than its box on each side\n", code, spill);
    l.expectedContours = contours;
    return l;
}

Legend words(int code, LegendForm form, const QStringList& lines) {
    Legend l(code, form);
    for (const auto& line : lines)
        l.paths.push_back(text(line, line == QStringLiteral("\u2318") ? kSymbolEm : kWordEm));
    return l;
}

// A word at the lower left, a fixed distance from the key's left and bottom edges.
Legend anchoredWord(int code, const QString& word, int contours) {
    Legend l = words(code, LegendForm::EdgeAnchored, {word});
    const QRectF ink = inkOf(l.paths);
    transformAll(l.paths,
                 QTransform::fromTranslate(kWordLeft - ink.left(), kWordBottom - ink.top()));
    l.expectedContours = contours;
    return l;
}

// A word that fills its placement box on the key.
Legend filledWord(int code, const QString& word, const QRectF& area, int contours) {
    Legend l = words(code, LegendForm::KeyRelative, {word});
    fill(l.paths, area);
    l.expectedContours = contours;
    return l;
}

// Places path i of a box legend in its box by the ink corner given.
void place(QPainterPath& p, qreal x, qreal y, Align h, VAlign v) {
    const QRectF ink = p.boundingRect();
    const qreal dx = h == Left ? x - ink.left() : x - ink.right();
    const qreal dy = v == Bottom ? y - ink.top() : y - ink.bottom();
    p.translate(dx, dy);
}

// Two word lines in a box: the first at the top, the second at the bottom.
Legend twoLines(int code, const QString& first, const QString& second, qreal bw, qreal bh, qreal px,
                qreal py, Align firstAlign, Align secondAlign, int contours) {
    Legend l = box(code, bw, bh, px, py);
    l.paths = words(code, LegendForm::Box, {first, second}).paths;
    // Both lines share one size: the wider spans the box.
    const qreal widest =
        std::max(l.paths[0].boundingRect().width(), l.paths[1].boundingRect().width());
    const qreal s = bw / widest;
    transformAll(l.paths, QTransform::fromScale(s, s));
    place(l.paths[0], firstAlign == Left ? 0 : bw, bh, firstAlign, Top);
    place(l.paths[1], secondAlign == Left ? 0 : bw, 0, secondAlign, Bottom);
    l.expectedContours = contours;
    return l;
}

// The left arrow as drawn on the key, edge-anchored (dx, dy from the top left).
QPainterPath leftArrow() {
    QPainterPath p;
    p.moveTo(27.88, 10.71);
    p.lineTo(27.88, 15.9);
    p.cubicTo(27.88, 15.98, 27.84, 16.0, 27.76, 16.0);
    p.cubicTo(27.74, 16.0, 27.74, 16.0, 27.72, 15.98);
    p.lineTo(22.54, 13.4);
    p.cubicTo(22.5, 13.37, 22.5, 13.34, 22.5, 13.3);
    p.cubicTo(22.5, 13.27, 22.5, 13.22, 22.54, 13.21);
    p.lineTo(27.69, 10.61);
    p.cubicTo(27.72, 10.59, 27.74, 10.59, 27.74, 10.59);
    p.cubicTo(27.84, 10.59, 27.88, 10.65, 27.88, 10.71);
    p.closeSubpath();
    return p;
}

// The other arrows turn or mirror the left one about its centre. Arrow paths
// stay in (dx, dy) until written.
Legend arrow(int code, const QTransform& aboutCentre) {
    const QPainterPath base = leftArrow();
    const QPointF c = base.boundingRect().center();
    QTransform t = QTransform::fromTranslate(-c.x(), -c.y()) * aboutCentre *
                   QTransform::fromTranslate(c.x(), c.y());
    Legend l(code, LegendForm::EdgeAnchored);
    const QSizeF s = keySize(code);
    // Into key points (y up) like every other legend; written back as (dx, dy).
    l.paths = {QTransform(1, 0, 0, -1, 0, s.height()).map(t.map(base))};
    l.expectedContours = 1;
    return l;
}

std::vector<Legend> buildLegends() {
    std::vector<Legend> all;
    const std::map<int, std::pair<QChar, int>> letters = {
        {0, {'A', 2}},  {1, {'S', 1}},  {2, {'D', 2}},  {3, {'F', 1}},  {4, {'H', 1}},
        {5, {'G', 1}},  {6, {'Z', 1}},  {7, {'X', 1}},  {8, {'C', 1}},  {9, {'V', 1}},
        {11, {'B', 3}}, {12, {'Q', 2}}, {13, {'W', 1}}, {14, {'E', 1}}, {15, {'R', 2}},
        {16, {'Y', 1}}, {17, {'T', 1}}, {31, {'O', 2}}, {32, {'U', 1}}, {34, {'I', 1}},
        {35, {'P', 2}}, {37, {'L', 1}}, {38, {'J', 1}}, {40, {'K', 1}}, {45, {'N', 1}},
        {46, {'M', 1}}};
    for (const auto& [code, glyph] : letters)
        all.push_back(letter(code, glyph.first, glyph.second));

    struct Stack {
        int code;
        const char* lower;
        const char* upper;
        qreal bw, bh, px, py;
        int contours;
    };
    const Stack stacks[] = {
        {18, "1", "!", 5, 30, 0.48936, 0.63636, 3},  {19, "2", "@", 11, 29, 0.4878, 0.65217, 3},
        {20, "3", "#", 8, 30, 0.5, 0.63636, 3},      {21, "4", "$", 9, 31, 0.48837, 0.66667, 5},
        {22, "6", "^", 8, 31, 0.5, 0.66667, 3},      {23, "5", "%", 10, 31, 0.5, 0.66667, 6},
        {24, "=", "+", 10, 24, 0.5, 0.60714, -1},    {25, "9", "(", 8, 31, 0.5, 0.66667, 3},
        {26, "7", "&", 9, 31, 0.48837, 0.66667, 4},  {27, "-", "_", 9, 18, 0.48837, 0.55882, -1},
        {28, "8", "*", 8, 30, 0.5, 0.63636, 4},      {29, "0", ")", 8, 31, 0.5, 0.66667, 3},
        {30, "]", "}", 5, 32, 0.48936, 0.7, -1},     {33, "[", "{", 5, 32, 0.48936, 0.7, -1},
        {39, "'", "\"", 7, 22, 0.51111, 0.7, 3},     {41, ";", ":", 3, 28, 0.4898, 0.58333, -1},
        {42, "\\", "|", 6, 33, 0.5, 0.68421, -1},    {43, ",", "<", 9, 29, 0.48837, 0.6087, -1},
        {44, "/", "?", 7, 32, 0.48889, 0.65, -1},    {47, ".", ">", 9, 27, 0.48837, 0.64, -1},
        {50, "`", "~", 7, 17, 0.48889, 0.65714, -1},
    };
    for (const Stack& s : stacks)
        all.push_back(stacked(s.code, QString::fromUtf8(s.lower), QString::fromUtf8(s.upper), s.bw,
                              s.bh, s.px, s.py, s.contours));

    all.push_back(twoLines(36, "enter", "return", 28, 35, 0.90769, 0.64706, Right, Right, 14));
    all.push_back(filledWord(48, "tab", relativeArea(48, 0.096, 0.223, 0.239, 0.384), 5));
    all.push_back(filledWord(51, "delete", relativeArea(51, 0.608, 0.901, 0.245, 0.368), 10));
    {
        // The placement band is far too flat for a word: esc fills it across,
        // keeps the height of the other labels' letters and is centred on it.
        QRectF area = relativeArea(53, 0.389, 0.556, 0.573, 0.621);
        const qreal tall = inkOf({text(QStringLiteral("esc"), kWordEm)}).height();
        const qreal mid = area.center().y();
        area.setTop(mid - tall / 2);
        area.setBottom(mid + tall / 2);
        all.push_back(filledWord(53, "esc", area, 4));
    }
    for (int code : {54, 55}) {
        Legend l = box(code, 48, 40, 0.47059, 0.57895);
        l.paths = words(code, LegendForm::Box, {QStringLiteral("\u2318"), "command"}).paths;
        const qreal s = std::min<qreal>(1.0, 48 / l.paths[1].boundingRect().width());
        l.paths[1] = QTransform::fromScale(s, s).map(l.paths[1]);
        place(l.paths[0], 48, 40, Right, Top);
        place(l.paths[1], 0, 0, Left, Bottom);
        l.expectedContours = 15;
        all.push_back(l);
    }
    for (int code : {56, 60})
        all.push_back(anchoredWord(code, "shift", 6));
    {
        Legend l = box(57, 43, 36, 0.14, 0.5625);
        l.paths = words(57, LegendForm::Box, {"caps lock"}).paths;
        fit(l.paths, QRectF(0, 0, 43, 28), Left, Bottom, true);
        l.expectedContours = 11;
        all.push_back(l);
    }
    all.push_back(twoLines(58, "alt", "option", 29, 43, 0.30435, 0.5625, Left, Left, 14));
    all.push_back(twoLines(61, "alt", "option", 29, 43, 0.69565, 0.5625, Right, Left, 14));
    all.push_back(anchoredWord(59, "control", 9));
    all.push_back(anchoredWord(63, "fn", 2));

    // F1 to F13 share one size: every label is as tall as the placement band
    // and the widest is as wide as it.
    const std::map<int, int> fkeys = {{122, 1},  {120, 2},  {99, 3},  {118, 4}, {96, 5},
                                      {97, 6},   {98, 7},   {100, 8}, {101, 9}, {109, 10},
                                      {103, 11}, {111, 12}, {105, 13}};
    {
        qreal widest = 0, tallest = 0;
        for (const auto& [code, n] : fkeys) {
            const QRectF ink = text(QStringLiteral("F%1").arg(n), kWordEm).boundingRect();
            widest = std::max(widest, ink.width());
            tallest = std::max(tallest, ink.height());
        }
        for (const auto& [code, n] : fkeys) {
            const QRectF area = relativeArea(code, 0.72, 0.88, 0.32, 0.48);
            Legend l(code, LegendForm::KeyRelative);
            l.paths = {QTransform::fromScale(area.width() / widest, area.height() / tallest)
                           .map(text(QStringLiteral("F%1").arg(n), kWordEm))};
            align(l.paths, area, Right, Bottom);
            // F, then each digit's own contours in this font.
            static const int digitContours[] = {2, 1, 1, 1, 2, 1, 2, 1, 3, 2};
            l.expectedContours =
                1 + (n >= 10 ? digitContours[1] + digitContours[n - 10] : digitContours[n]);
            all.push_back(l);
        }
    }

    all.push_back(arrow(123, QTransform()));
    all.push_back(arrow(124, QTransform::fromScale(-1, 1)));
    // dy grows downward, so the up arrow turns the left one clockwise on paper.
    all.push_back(arrow(126, QTransform(0, 1, -1, 0, 0, 0)));
    all.push_back(arrow(125, QTransform(0, -1, 1, 0, 0, 0)));

    std::sort(all.begin(), all.end(),
              [](const Legend& a, const Legend& b) { return a.code < b.code; });
    return all;
}

QString number(qreal v, int decimals) {
    QString s = QString::number(v, 'f', decimals);
    if (s == QLatin1String("-0.00000") || s == QLatin1String("-0.00"))
        s = s.mid(1);
    return s;
}

struct Written {
    QString ops;
    QStringList coords;
};

Written write(const Legend& l, const QPainterPath& path) {
    const QSizeF s = keySize(l.code);
    const int decimals = l.form == LegendForm::EdgeAnchored ? 2 : 5;
    Written w;
    auto add = [&](QPointF p) {
        switch (l.form) {
        case LegendForm::KeyRelative:
            p = {p.x() / s.width(), p.y() / s.height()};
            break;
        case LegendForm::Box:
            break;
        case LegendForm::EdgeAnchored:
            p = {p.x(), s.height() - p.y()};
            break;
        }
        w.coords << number(p.x(), decimals) << number(p.y(), decimals);
    };
    QPointF start;
    bool open = false;
    for (int i = 0; i < path.elementCount(); ++i) {
        const auto e = path.elementAt(i);
        if (e.isMoveTo()) {
            if (open)
                w.ops += 'Z';
            w.ops += 'M';
            add(e);
            start = e;
            open = true;
        } else if (e.isLineTo()) {
            // The closing line back to the start is implied by Z.
            const bool last = i + 1 == path.elementCount() || path.elementAt(i + 1).isMoveTo();
            if (last && QPointF(e) == start)
                continue;
            w.ops += 'L';
            add(e);
        } else if (e.isCurveTo()) {
            w.ops += 'C';
            add(e);
            add(path.elementAt(i + 1));
            add(path.elementAt(i + 2));
            i += 2;
        }
    }
    if (open)
        w.ops += 'Z';
    return w;
}

const char* formName(LegendForm f) {
    switch (f) {
    case LegendForm::KeyRelative:
        return "LegendForm::KeyRelative";
    case LegendForm::Box:
        return "LegendForm::Box";
    case LegendForm::EdgeAnchored:
        return "LegendForm::EdgeAnchored";
    }
    return "";
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString fontFile = QString::fromUtf8(kDefaultFont);
    QString output;
    bool bad = false;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--font") && i + 1 < args.size())
            fontFile = args[++i];
        else if (args[i] == QLatin1String("-o") && i + 1 < args.size())
            output = args[++i];
        else
            bad = true;
    }
    if (bad || output.isEmpty()) {
        std::fputs("usage: legendgen [--font FILE.ttf] -o LegendData.cpp\n", stderr);
        return 2;
    }
    gFont = QRawFont(fontFile, 100);
    if (!gFont.isValid()) {
        std::fprintf(stderr, "legendgen: cannot load the font %s\n", qPrintable(fontFile));
        return 1;
    }

    const std::vector<Legend> legends = buildLegends();
    QString out;
    QTextStream ts(&out);
    ts << "// Generated by tools/legendgen from " << QFileInfo(fontFile).fileName() << " ("
       << gFont.familyName() << ", licence in DejaVuFonts-LICENSE.txt); do not edit by hand.\n"
       << "// clang-format off\n"
       << "#include \"render/Legend.h\"\n\nnamespace orvix {\n\nnamespace {\n\n";
    int mismatches = 0;
    for (const Legend& l : legends) {
        int contours = 0;
        for (std::size_t i = 0; i < l.paths.size(); ++i) {
            const Written w = write(l, l.paths[i]);
            contours += static_cast<int>(w.ops.count('M'));
            ts << "const double k" << l.code << "_" << i << "[] = {" << w.coords.join(", ")
               << "};\n";
        }
        ts << "const LegendPathData k" << l.code << "[] = {";
        for (std::size_t i = 0; i < l.paths.size(); ++i)
            ts << (i ? ", " : "") << "{\"" << write(l, l.paths[i]).ops << "\", k" << l.code << "_"
               << i << "}";
        ts << "};\n\n";
        if (l.expectedContours >= 0 && contours != l.expectedContours) {
            ++mismatches;
            std::printf("key %d: %d contours, table says %d\n", l.code, contours,
                        l.expectedContours);
        }
    }
    ts << "const LegendData kLegends[] = {\n";
    for (const Legend& l : legends)
        ts << "    {" << l.code << ", " << formName(l.form) << ", " << l.bw << ", " << l.bh << ", "
           << l.px << ", " << l.py << ", k" << l.code << "},\n";
    ts << "};\n\n} // namespace\n\n"
       << "std::span<const LegendData> legendTable() { return kLegends; }\n\n"
       << "} // namespace orvix\n";
    ts.flush();

    // Written whole or not at all, so a failed run leaves the old data.
    QSaveFile file(output);
    const QByteArray bytes = out.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        std::fprintf(stderr, "legendgen: cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%zu legends written, %d with another contour count than the table\n",
                legends.size(), mismatches);
    return 0;
}
