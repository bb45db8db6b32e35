#pragma once

#include <QAbstractButton>
#include <QList>
#include <QWidget>
#include <optional>

class QGraphicsOpacityEffect;
class QMenu;

namespace orvix {

// A small round button of the panel's title strip, drawn by us.
class TitleButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Kind { Close, Miniaturize, Gear, Update };
    TitleButton(Kind kind, QWidget* parent);
    Kind kind() const { return _kind; }
    QSize sizeHint() const override { return {14, 14}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind _kind;
};

// The strip along the top of the panel: close and miniaturise on the left, the
// gear and update buttons (the title-bar extras) on the right. The controls
// show while the pointer is over the strip; dragging the strip moves the panel.
class TitleStrip : public QWidget {
    Q_OBJECT
public:
    explicit TitleStrip(QWidget* parent);

    TitleButton* closeButton() const { return _close; }
    TitleButton* miniaturizeButton() const { return _miniaturize; }
    TitleButton* gearButton() const { return _gear; }
    TitleButton* updateButton() const { return _update; }

    // The title-bar controls, in the order they fade.
    QList<QWidget*> titleBarControls() const;
    // Current opacity of the controls (1.0 shown, 0.0 hidden); for tests.
    double controlsOpacity() const;

signals:
    void closeClicked();
    void miniaturizeClicked();
    void gearClicked();
    void updateClicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fadeControls(double opacity);

    TitleButton* _close;
    TitleButton* _miniaturize;
    TitleButton* _gear;
    TitleButton* _update;
    QList<QGraphicsOpacityEffect*> _effects;
    QPoint _pressPosition;
    bool _pressed = false;
    // While the panel follows the pointer by itself: where it was grabbed.
    std::optional<QPoint> _dragOffset;
};

} // namespace orvix
