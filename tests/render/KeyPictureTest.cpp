#include "render/KeyPicture.h"

#include "PictureProbe.h"
#include "render/Blur.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace orvix;
using namespace orvix::test;

namespace {

QPainterPath rect(qreal x, qreal y, qreal w, qreal h) {
    QPainterPath p;
    p.addRect(x, y, w, h);
    return p;
}

int alphaSum(const QImage& image) {
    long long sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qAlpha(image.pixel(x, y));
    return static_cast<int>(sum);
}

} // namespace

// The gradient spans the path, not the picture, and nothing is drawn outside it.
TEST(KeyPicture, GradientAnglesRunAsTheirDegreesSayAcrossThePath) {
    const struct {
        qreal angle;
        QPointF start, end; // where each colour shows
    } cases[] = {{0, {10.5, 15}, {19.5, 15}},
                 {180, {19.5, 15}, {10.5, 15}},
                 {90, {15, 10.5}, {15, 19.5}},
                 {-90, {15, 19.5}, {15, 10.5}}};
    for (const auto& c : cases) {
        KeyPicture picture(QSizeF(40, 40));
        picture.fillGradient(rect(10, 10, 10, 10), Gradient{Qt::red, Qt::blue}, c.angle);
        const QImage image = picture.toImage(4.0);
        const QColor start = colorAt(image, 4, c.start.x(), c.start.y());
        const QColor end = colorAt(image, 4, c.end.x(), c.end.y());
        EXPECT_GT(start.red(), 200) << c.angle;
        EXPECT_LT(start.blue(), 50) << c.angle;
        EXPECT_GT(end.blue(), 200) << c.angle;
        EXPECT_LT(end.red(), 50) << c.angle;
        EXPECT_EQ(alphaAt(image, 4, 30, 30), 0) << c.angle;
    }
}

TEST(KeyPicture, ShadowFallsByItsOffsetSpreadsByItsBlurAndTakesTheFillsOpacity) {
    auto shadowed = [](const Shadow& s, qreal scale = 4, int fillAlpha = 255) {
        KeyPicture picture(QSizeF(40, 40));
        picture.fillSolid(rect(10, 10, 20, 20), QColor(255, 255, 255, fillAlpha), s);
        return picture.toImage(scale);
    };
    // Sharp shadow two points down (y up: negative offset).
    const QImage sharp = shadowed(Shadow{Qt::black, {0, -2}, 0});
    EXPECT_EQ(colorAt(sharp, 4, 20, 9), QColor(Qt::black));
    EXPECT_EQ(alphaAt(sharp, 4, 20, 31), 0);
    EXPECT_EQ(colorAt(sharp, 4, 20, 20).red(), 255); // the shape covers its shadow

    const QImage blurred = shadowed(Shadow{Qt::black, {0, -2}, 4});
    const int near = alphaAt(blurred, 4, 20, 9);
    const int far = alphaAt(blurred, 4, 20, 4);
    EXPECT_GT(near, far);
    EXPECT_GT(far, 0);
    EXPECT_LT(near, 255);
    EXPECT_GT(alphaAt(blurred, 4, 20, 31), 0); // blur reaches past the top edge

    // A transparent shadow colour casts nothing.
    const QImage none = shadowed(Shadow{QColor(0, 0, 0, 0), {0, -2}, 4});
    EXPECT_EQ(inkPoints(none, 4, 0), QRectF(QPointF(10, 10), QPointF(30, 30)));

    // The shadow is as opaque as the fill that casts it, below the shape.
    for (int fillAlpha : {255, 128, 0})
        EXPECT_NEAR(alphaAt(shadowed(Shadow{Qt::black, {0, -5}, 0}, 4, fillAlpha), 4, 20, 7),
                    fillAlpha, 2);

    // It scales with the picture.
    const Shadow soft{Qt::black, {0, -3}, 2};
    const QRectF one = inkPoints(shadowed(soft, 1), 1.0, 20);
    const QRectF four = inkPoints(shadowed(soft, 4), 4.0, 20);
    EXPECT_NEAR(one.top(), four.top(), 1.0);
    EXPECT_LT(four.top(), 10 - 2);
}

TEST(KeyPicture, EqualShadowsAreMadeOnceAndNoOtherShadowIsMistakenForThem) {
    const auto picture = [](const QPainterPath& path, const QColor& fill, const Shadow& shadow,
                            bool gradient = false) {
        KeyPicture p(QSizeF(40, 40));
        if (gradient)
            p.fillGradient(path, Gradient{fill, Qt::transparent}, 90, shadow);
        else
            p.fillSolid(path, fill, shadow);
        return p;
    };
    const QPainterPath square = rect(10, 10, 20, 20);
    const Shadow shadow{QColor(0, 0, 0, 200), {0, -3}, 2};
    KeyPicture::releaseMadeShadows();
    const QImage first = picture(square, Qt::white, shadow).toImage(2.0);
    EXPECT_EQ(KeyPicture::madeShadowCount(), 1);
    // Another picture with the same fill and shadow shares it, pixel for pixel.
    EXPECT_EQ(picture(square, Qt::white, shadow).toImage(2.0), first);
    EXPECT_EQ(KeyPicture::madeShadowCount(), 1);

    // Anything that changes a shadow's pixels makes a shadow of its own: drawn
    // with the first one made, each looks as it does drawn from scratch.
    const struct {
        const char* what;
        KeyPicture picture;
        qreal scale;
    } others[] = {
        {"scale", picture(square, Qt::white, shadow), 3.0},
        {"path", picture(rect(12, 10, 20, 20), Qt::white, shadow), 2.0},
        {"fill opacity", picture(square, QColor(255, 255, 255, 90), shadow), 2.0},
        {"gradient fill", picture(square, Qt::white, shadow, true), 2.0},
        {"colour", picture(square, Qt::white, Shadow{QColor(200, 0, 0, 200), {0, -3}, 2}), 2.0},
        {"offset", picture(square, Qt::white, Shadow{QColor(0, 0, 0, 200), {2, -3}, 2}), 2.0},
        {"blur", picture(square, Qt::white, Shadow{QColor(0, 0, 0, 200), {0, -3}, 5}), 2.0},
    };
    for (const auto& other : others) {
        KeyPicture::releaseMadeShadows();
        const QImage fresh = other.picture.toImage(other.scale);
        KeyPicture::releaseMadeShadows();
        picture(square, Qt::white, shadow).toImage(2.0);
        EXPECT_EQ(other.picture.toImage(other.scale), fresh) << other.what;
        EXPECT_EQ(KeyPicture::madeShadowCount(), 2) << other.what;
    }
    KeyPicture::releaseMadeShadows();
    EXPECT_EQ(KeyPicture::madeShadowCount(), 0);
}

TEST(KeyPicture, PaintsIntoAnyTargetAndMakesImagesThatShowAtPointSize) {
    KeyPicture picture(QSizeF(10, 10));
    picture.fillSolid(rect(0, 0, 5, 10), Qt::green); // left half
    QImage canvas(100, 50, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    picture.paint(p, QRectF(50, 0, 50, 50));
    // Empty pictures and targets paint nothing and do not fail.
    KeyPicture().paint(p, QRectF(0, 0, 10, 10));
    picture.paint(p, QRectF());
    p.end();
    EXPECT_EQ(qAlpha(canvas.pixel(10, 25)), 0);
    EXPECT_EQ(qGreen(canvas.pixel(60, 25)), 255);
    EXPECT_EQ(qAlpha(canvas.pixel(90, 25)), 0);

    const QImage image = picture.toImage(2.0);
    EXPECT_EQ(image.size(), QSize(20, 20));
    EXPECT_DOUBLE_EQ(image.devicePixelRatio(), 2.0);
    EXPECT_TRUE(KeyPicture().toImage(QSize(0, 0)).isNull());
}

TEST(Blur, KeepsTheMassAndSpreadsIt) {
    QImage image(41, 41, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setPixel(20, 20, qRgba(255, 255, 255, 255));
    for (int i = 0; i < 4; ++i) // a 2x2 block, so rounding does not eat it all
        image.setPixel(20 + i % 2, 20 + i / 2, qRgba(255, 255, 255, 255));
    const int before = alphaSum(image);
    blurImage(image, 3.0);
    EXPECT_NEAR(alphaSum(image), before, before * 0.15);
    EXPECT_LT(qAlpha(image.pixel(20, 20)), 255);
    EXPECT_GT(qAlpha(image.pixel(24, 20)), 0);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    // Symmetric.
    EXPECT_NEAR(qAlpha(image.pixel(17, 20)), qAlpha(image.pixel(24, 20)), 2);
}

TEST(Blur, DegenerateInputsAreLeftAlone) {
    QImage image(3, 3, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    const QImage copy = image;
    blurImage(image, 0);
    EXPECT_EQ(image, copy);
    blurImage(image, -1);
    EXPECT_EQ(image, copy);
    QImage null;
    blurImage(null, 2);
    EXPECT_TRUE(null.isNull());
    QImage one(1, 1, QImage::Format_ARGB32_Premultiplied);
    one.fill(Qt::black);
    blurImage(one, 50); // a radius far larger than the image: must not read outside it
    QImage rgb(5, 5, QImage::Format_RGB32); // converted, not misread
    rgb.fill(Qt::white);
    blurImage(rgb, 1);
    EXPECT_EQ(rgb.format(), QImage::Format_ARGB32_Premultiplied);
}
