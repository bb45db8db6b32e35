#pragma once

#include <QWidget>

class QCheckBox;
class QSlider;
class QLabel;

namespace orvix {

class Defaults;

// The preferences window: the transparencies, the tray icon and how latched
// modifiers apply to real input, update checks. Every control writes its key
// directly and follows the key when something else changes it.
class PreferencesWindow : public QWidget {
    Q_OBJECT
public:
    explicit PreferencesWindow(Defaults& defaults, QWidget* parent = nullptr);

    QSlider* activeSlider() const { return _active; }
    QSlider* inactiveSlider() const { return _inactive; }
    QCheckBox* showInMenuBarBox() const { return _showInMenuBar; }
    QCheckBox* modifyKeysBox() const { return _modifyKeys; }
    QCheckBox* modifyMouseBox() const { return _modifyMouse; }
    QCheckBox* checkForUpdatesBox() const { return _checkForUpdates; }
    QCheckBox* sendProfileBox() const { return _sendProfile; }

    static constexpr int kSliderSteps = 100;

    // What the two latched-modifier settings do with the input backend in
    // use, shown under each; a setting the backend cannot follow is shown
    // unavailable.
    struct InputNotes {
        QString keys;
        QString mouse;
        bool mouseAvailable = true;

        // X11 delivers real input before any client sees it: latched
        // modifiers can only wait in the server as locks, which keys and
        // clicks alike pick up.
        static InputNotes x11();
        // The kernel-level backend changes each real event in flight, so
        // both settings do exactly what they say.
        static InputNotes kernel();
    };
    void setInputNotes(const InputNotes& notes);
    QLabel* keysNote() const { return _keysNote; }
    QLabel* mouseNote() const { return _mouseNote; }

private:
    void reload(const QString& key);
    QSlider* makeSlider(const QString& key, QLabel* valueLabel);
    QCheckBox* makeBox(const QString& text, const QString& key);

    Defaults& _defaults;
    QSlider* _active;
    QSlider* _inactive;
    QLabel* _activeValue;
    QLabel* _inactiveValue;
    QCheckBox* _showInMenuBar;
    QCheckBox* _modifyKeys;
    QCheckBox* _modifyMouse;
    QLabel* _keysNote;
    QLabel* _mouseNote;
    QCheckBox* _checkForUpdates;
    QCheckBox* _sendProfile;
};

} // namespace orvix
