#pragma once

#include "app/input/KeyLighter.h"

#include <QHash>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QTimer>
#include <QWidget>

namespace orvix {

class KeyControl;
class KeyDelegate;

// The view that holds the key controls: one per key of the layout, in layout
// order, each placed at its layout frame scaled to the view's size so that
// the keyboard keeps its proportions when the panel is resized.
class KeyboardView : public QWidget, public KeyLighter {
    Q_OBJECT
public:
    struct Placeholder {
        qint64 tag;
        QRectF frame; // in layout points
    };

    KeyboardView(const QList<Placeholder>& layout, QSizeF layoutSize, int32_t theme,
                 KeyDelegate* delegate, QWidget* parent = nullptr);

    // The key control whose tag is `tag`, or none.
    KeyControl* viewWithTag(qint64 tag) const { return _byTag.value(tag, nullptr); }
    const QList<KeyControl*>& keyControls() const { return _keys; }
    QSizeF layoutSize() const { return _layoutSize; }

    void setKeyPressed(int code, bool pressed) override;
    void setKeyToggles(int code, bool toggles) override;

    // How long the size must hold still before resizeSettled.
    static constexpr int kResizeSettleMs = 250;

signals:
    // The keys have a new size and it has held for a moment: their pixels
    // were dropped and can be made again without being thrown away at once.
    void resizeSettled();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect scaledFrame(const QRectF& frame) const;

    QSizeF _layoutSize;
    QList<Placeholder> _layout;
    QList<KeyControl*> _keys;
    QHash<qint64, KeyControl*> _byTag;
    QTimer _resizeSettle;
};

} // namespace orvix
