#pragma once

#include <QPixmap>
#include <QSizeF>
#include <QTimer>
#include <QWidget>

namespace orvix {

class TitleStrip;

// The corner handle that resizes the frameless panel: through the window
// manager, or by itself where the panel bypasses the manager.
class ResizeGrip : public QWidget {
    Q_OBJECT
public:
    explicit ResizeGrip(QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The wheel over the grip sizes the panel too: where the compositor
    // keeps no pointer grab for the panel, a drag outward ends as soon as
    // the pointer outruns the panel's edge.
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The pointer and the panel's size when a resize of our own began.
    QPoint _pressPosition;
    QSize _pressSize;
    bool _resizing = false;
    // Wheel travel short of a whole notch, in eighths of a degree.
    int _wheelTravel = 0;
};

// The keyboard panel: a frameless tool window that floats above other windows
// on every workspace and never takes the keyboard focus, so posted keys keep
// going to the application the user is typing into.
class MyPanel : public QWidget {
    Q_OBJECT
public:
    explicit MyPanel(QWidget* parent = nullptr);

    // Never the focused window: clicks leave the other application in front.
    bool canBecomeKeyWindow() const { return false; }

    TitleStrip* titleStrip() const { return _titleStrip; }
    // The area below the title strip that holds the keys.
    QWidget* contentView() const { return _contentView; }
    // The view with the keys; it fills the content view.
    void setKeyboardView(QWidget* view);

    // Keeps width / height of the content at this ratio when resized, from
    // whichever edge the user moves, and no narrower than the minimum.
    void setContentAspectRatio(QSizeF ratio);
    QSizeF contentAspectRatio() const { return _aspect; }
    static int titleBarHeight();
    // The panel's size for a width, or a height, keeping the layout's proportions.
    QSize sizeForWidth(int width) const;
    QSize sizeForHeight(int height) const;
    // Below this the keys get too small to hit and the strip's buttons crowd.
    static constexpr int kMinimumContentWidth = 400;
    // The frame the panel takes for a frame it was given: the keyboard's
    // proportions (led by the height when `heightLeads`), at least the
    // minimum size, and inside the available area of its screen.
    QRect fittedFrame(const QRect& frame, bool heightLeads) const;
    // Whether going from `from` to `to` moved the bottom edge further than
    // the right one, each relative to its length (the keys' part for the height).
    static bool heightLeads(QSize from, QSize to);
    // The frame moved, not resized, into the available area of its screen.
    QRect keptOnScreen(const QRect& frame) const;
    // The window manager resizes the panel from the pointer until the button
    // comes up; the proportions are restored then, led by the edge it moved.
    void beginInteractiveResize();

    // Adds _NET_WM_STATE_STICKY (and keeps ABOVE): Qt has no flag for it.
    void applyWorkspaceStates();

    // Keeps the panel out of the window manager's hands (an override-redirect
    // window) where the manager would give it the focus: set before it is
    // first shown. It then moves, sizes and miniaturises itself.
    void setBypassesWindowManager(bool bypass);
    bool bypassesWindowManager() const { return _bypassesWindowManager; }
    // To the dock and back. Without a window manager there is no dock: the
    // panel is hidden until the status item brings it back.
    void miniaturize();
    void deminiaturize();
    bool isMiniaturized() const;

signals:
    void closeRequested();
    void miniaturizeRequested();
    void pointerEntered();
    void pointerExited();
    void frameChanged();
    void deminiaturized();
    // Once, after the panel's first frame has gone to the screen.
    void firstFramePainted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void _keepProportions();
    QRect availableArea(const QRect& frame) const;

    bool _framePainted = false;
    bool _bypassesWindowManager = false;
    bool _hiddenAsMiniaturized = false;
    bool _heightLeads = false;
    bool _fitPending = false;
    // The last size that had the keyboard's proportions.
    QSize _settledSize;
    QTimer _fitCheck;
    // While the window manager resizes interactively it sets the size from
    // the pointer at every step, so corrections would only fight it.
    bool _interactive = false;
    QTimer _releaseWatch;
    TitleStrip* _titleStrip = nullptr;
    ResizeGrip* _resizeGrip = nullptr;
    QWidget* _contentView = nullptr;
    QWidget* _keyboardView = nullptr;
    QPixmap _metal;
    QSizeF _aspect;
};

} // namespace orvix
