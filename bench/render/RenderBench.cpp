// Rendering costs of the keyboard: recording and rasterising every key in all
// three looks, and showing a picture that is already rasterised.
#include "render/KeyView.h"
#include "render/KeyboardLayout.h"
#include "render/KeyboardTheme.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <vector>

using namespace orvix;

namespace {

const int64_t kLooks[] = {KeyView::Normal, KeyView::Hover, KeyView::Pressed};

// All 78 keys, three looks, one theme: record the picture and rasterise it at
// the given device pixel ratio, as a key control fills its cache.
void BM_WholeKeyboardThreeLooks(benchmark::State& state) {
    const qreal scale = static_cast<qreal>(state.range(0));
    const int32_t theme = static_cast<int32_t>(state.range(1));
    const auto layout = keyboardLayout();
    for (auto _ : state) {
        for (const KeyPlacement& key : layout) {
            KeyView view(key.code, KeyView::Normal);
            view.setTheme(KeyboardTheme::themeForIndex(theme).themeForKeyCode(key.code));
            for (int64_t look : kLooks) {
                view.setState(look);
                QImage image = view.keyImage().toImage(scale);
                benchmark::DoNotOptimize(image.constBits());
            }
        }
    }
    state.SetLabel(scale == 1 ? "1x" : "2x");
}
BENCHMARK(BM_WholeKeyboardThreeLooks)->ArgsProduct({{1, 2}, {0, 2}})->Unit(benchmark::kMillisecond);

// Recording only: the vector pictures of the whole keyboard, three looks.
void BM_RecordPictures(benchmark::State& state) {
    const auto layout = keyboardLayout();
    for (auto _ : state) {
        for (const KeyPlacement& key : layout) {
            KeyView view(key.code, KeyView::Normal);
            view.setTheme(WhiteKeyboardTheme::shared().themeForKeyCode(key.code));
            for (int64_t look : kLooks) {
                view.setState(look);
                KeyPicture picture = view.keyImage();
                benchmark::DoNotOptimize(picture.ops().data());
            }
        }
    }
}
BENCHMARK(BM_RecordPictures)->Unit(benchmark::kMillisecond);

// Showing a cached picture: drawing its rasterised image into a window-sized
// surface at its frame, as a hover or press swap does.
void BM_ShowCachedPicture(benchmark::State& state) {
    const qreal scale = static_cast<qreal>(state.range(0));
    KeyView view(0, KeyView::Hover);
    view.setTheme(&WhiteKeyboardTheme::theme());
    const QImage cached = view.keyImage().toImage(scale);
    QImage surface((keyboardLayoutSize() * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    surface.setDevicePixelRatio(scale);
    surface.fill(Qt::gray);
    QPainter painter(&surface);
    const QRectF frame(100, 60, 52, 52);
    for (auto _ : state) {
        painter.drawImage(frame, cached);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ShowCachedPicture)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
