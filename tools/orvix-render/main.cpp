// orvix-render: draws the keyboard, or one key, to an image file, for people
// making themes and for tests.
#include "BuildInfo.h"
#include "render/KeyView.h"
#include "render/KeyboardLayout.h"
#include "render/KeyboardTheme.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

using namespace orvix;

namespace {

constexpr int kUsage = 2;
// Vector outputs carry rasterised shadows at this many pixels per point.
constexpr qreal kVectorShadowResolution = 4;

void usage(FILE* out) {
    std::fputs("usage: orvix-render keyboard [--theme N] [--look normal|hover|pressed] "
               "[--scale S] -o FILE.png\n"
               "       orvix-render key CODE [--theme N] [--look normal|hover|pressed] "
               "[--scale S] -o FILE.png|FILE.pdf|FILE.svg\n"
               "  N: 0 White, 1 Black, 2 Black (Illuminated), 3 Checkered, 4 Left/Right, "
               "5 Vexmor\n"
               "       orvix-render --help | --version\n",
               out);
}

struct Options {
    bool keyboard = false;
    int64_t code = 0;
    int32_t theme = 0;
    int64_t look = KeyView::Normal;
    qreal scale = 1;
    QString output;
};

std::optional<long long> parseInteger(const QString& s) {
    bool ok = false;
    const long long v = s.toLongLong(&ok);
    return ok ? std::optional<long long>(v) : std::nullopt;
}

std::optional<Options> parse(const QStringList& args) {
    Options o;
    int i = 1;
    if (args.size() < 2)
        return std::nullopt;
    if (args[i] == QLatin1String("keyboard")) {
        o.keyboard = true;
        ++i;
    } else if (args[i] == QLatin1String("key") && args.size() > 2) {
        const auto code = parseInteger(args[i + 1]);
        if (!code || *code < 0 || *code > 127)
            return std::nullopt;
        o.code = *code;
        i += 2;
    } else {
        return std::nullopt;
    }
    for (; i < args.size(); ++i) {
        const QString& a = args[i];
        if (i + 1 >= args.size())
            return std::nullopt;
        const QString& v = args[++i];
        if (a == QLatin1String("--theme")) {
            const auto t = parseInteger(v);
            if (!t || *t < INT32_MIN || *t > INT32_MAX)
                return std::nullopt;
            o.theme = static_cast<int32_t>(*t);
        } else if (a == QLatin1String("--look")) {
            if (v == QLatin1String("normal"))
                o.look = KeyView::Normal;
            else if (v == QLatin1String("pressed"))
                o.look = KeyView::Pressed;
            else if (v == QLatin1String("hover"))
                o.look = KeyView::Hover;
            else
                return std::nullopt;
        } else if (a == QLatin1String("--scale")) {
            bool ok = false;
            o.scale = v.toDouble(&ok);
            if (!ok || !(o.scale > 0 && o.scale <= 16))
                return std::nullopt;
        } else if (a == QLatin1String("-o")) {
            o.output = v;
        } else {
            return std::nullopt;
        }
    }
    if (o.output.isEmpty())
        return std::nullopt;
    const QString suffix = QFileInfo(o.output).suffix().toLower();
    if (suffix != QLatin1String("png") &&
        (o.keyboard || (suffix != QLatin1String("pdf") && suffix != QLatin1String("svg"))))
        return std::nullopt;
    return o;
}

KeyPicture pictureOf(int64_t code, int32_t themeIndex, int64_t look) {
    KeyView view(code, look);
    view.setTheme(KeyboardTheme::themeForIndex(themeIndex).themeForKeyCode(code));
    return view.keyImage();
}

bool writeKeyboard(const Options& o) {
    const QSizeF size = keyboardLayoutSize();
    QImage image((size * o.scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    // A brushed-aluminium grey behind the keys, as the panel shows them.
    image.fill(QColor(0xc9, 0xcb, 0xcf));
    QPainter painter(&image);
    painter.scale(o.scale, o.scale);
    for (const KeyPlacement& key : keyboardLayout())
        pictureOf(key.code, o.theme, o.look).paint(painter, key.frame);
    painter.end();
    return image.save(o.output, "PNG");
}

bool writeKey(const Options& o) {
    const KeyPicture picture = pictureOf(o.code, o.theme, o.look);
    const QSizeF points = picture.size() * o.scale;
    const QString suffix = QFileInfo(o.output).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return picture.toImage(points.toSize()).save(o.output, "PNG");
    const QRectF target(QPointF(0, 0), points * kVectorShadowResolution);
    if (suffix == QLatin1String("pdf")) {
        QPdfWriter pdf(o.output);
        pdf.setPageSize(QPageSize(points, QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(static_cast<int>(72 * kVectorShadowResolution));
        pdf.setCreator(QStringLiteral("orvix-render"));
        QPainter painter;
        if (!painter.begin(&pdf))
            return false;
        picture.paint(painter, target);
        return painter.end();
    }
    QSvgGenerator svg;
    svg.setFileName(o.output);
    svg.setSize(target.size().toSize());
    svg.setViewBox(target);
    svg.setResolution(static_cast<int>(72 * kVectorShadowResolution));
    svg.setTitle(QStringLiteral("Key %1").arg(o.code));
    QPainter painter;
    if (!painter.begin(&svg))
        return false;
    picture.paint(painter, target);
    return painter.end();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        usage(stdout);
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("orvix-render %s\n", buildinfo::kShortVersion);
        return 0;
    }
    // Drawing needs no display: the offscreen platform works everywhere.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const auto options = parse(QCoreApplication::arguments());
    if (!options) {
        usage(stderr);
        return kUsage;
    }
    const bool written = options->keyboard ? writeKeyboard(*options) : writeKey(*options);
    if (!written) {
        std::fprintf(stderr, "orvix-render: cannot write %s\n",
                     QFileInfo(options->output).absoluteFilePath().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
