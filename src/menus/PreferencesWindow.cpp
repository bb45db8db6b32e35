#include "menus/PreferencesWindow.h"

#include "os/Bundle.h"
#include "settings/Defaults.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>

namespace orvix {

PreferencesWindow::PreferencesWindow(Defaults& defaults, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), _defaults(defaults) {
    setWindowTitle(tr("%1 Preferences").arg(Bundle::name()));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* panelGroup = new QGroupBox(tr("Panel"), this);
    auto* panelForm = new QFormLayout(panelGroup);
    _activeValue = new QLabel(this);
    _inactiveValue = new QLabel(this);
    _active = makeSlider(settings::kActiveTransparency, _activeValue);
    _inactive = makeSlider(settings::kInactiveTransparency, _inactiveValue);
    auto row = [this](QSlider* slider, QLabel* value) {
        auto* box = new QWidget(this);
        auto* layout = new QHBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(slider, 1);
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("100%")));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        layout->addWidget(value);
        return box;
    };
    panelForm->addRow(tr("Opacity under the pointer:"), row(_active, _activeValue));
    panelForm->addRow(tr("Opacity elsewhere:"), row(_inactive, _inactiveValue));
    _showInMenuBar = makeBox(tr("Show in the system tray (closing the panel then hides it)"),
                             settings::kShowInMenuBar);
    panelForm->addRow(_showInMenuBar);

    auto* inputGroup = new QGroupBox(tr("Latched modifiers"), this);
    auto* inputLayout = new QVBoxLayout(inputGroup);
    _modifyKeys =
        makeBox(tr("Apply them to keys typed on the real keyboard"), settings::kModifyKeyEvents);
    _modifyMouse = makeBox(tr("Apply them to mouse clicks"), settings::kModifyMouseEvents);
    const auto smallNote = [this](const QString& text) {
        auto* label = new QLabel(text, this);
        label->setWordWrap(true);
        QFont small = label->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        label->setFont(small);
        label->setEnabled(false);
        return label;
    };
    _keysNote = smallNote({});
    _mouseNote = smallNote({});
    _keysNote->hide();
    _mouseNote->hide();
    inputLayout->addWidget(_modifyKeys);
    inputLayout->addWidget(_keysNote);
    inputLayout->addWidget(_modifyMouse);
    inputLayout->addWidget(_mouseNote);
    inputLayout->addWidget(
        smallNote(tr("These two take effect the next time %1 starts.").arg(Bundle::name())));

    auto* updatesGroup = new QGroupBox(tr("Updates"), this);
    auto* updatesLayout = new QVBoxLayout(updatesGroup);
    _checkForUpdates = makeBox(tr("Check for updates when %1 starts").arg(Bundle::name()),
                               settings::kCheckForUpdates);
    _sendProfile = makeBox(tr("Include an anonymous system profile"), settings::kSendProfileInfo);
    updatesLayout->addWidget(_checkForUpdates);
    updatesLayout->addWidget(_sendProfile);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panelGroup);
    layout->addWidget(inputGroup);
    layout->addWidget(updatesGroup);
    layout->addStretch();
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(&_defaults, &Defaults::changed, this, &PreferencesWindow::reload);
    for (const QString& key :
         {settings::kActiveTransparency, settings::kInactiveTransparency, settings::kShowInMenuBar,
          settings::kModifyKeyEvents, settings::kModifyMouseEvents, settings::kCheckForUpdates,
          settings::kSendProfileInfo})
        reload(key);
}

PreferencesWindow::InputNotes PreferencesWindow::InputNotes::x11() {
    InputNotes notes;
    notes.keys = PreferencesWindow::tr(
        "On X11 a latched modifier stays locked in the X server until you release "
        "it, so real keys and real mouse clicks both pick it up.");
    notes.mouse = PreferencesWindow::tr(
        "Not available on X11: mouse clicks pick up latched modifiers whenever "
        "real keys do, as set above.");
    notes.mouseAvailable = false;
    return notes;
}

PreferencesWindow::InputNotes PreferencesWindow::InputNotes::kernel() {
    InputNotes notes;
    notes.keys = PreferencesWindow::tr(
        "Each real key leaves with the latched modifiers pressed around it; the "
        "keyboards are only read while this is off.");
    notes.mouse = PreferencesWindow::tr(
        "Each real mouse click leaves with the latched modifiers pressed around it; "
        "the mice are left alone while this is off.");
    return notes;
}

void PreferencesWindow::setInputNotes(const InputNotes& notes) {
    _keysNote->setText(notes.keys);
    _keysNote->setVisible(!notes.keys.isEmpty());
    _mouseNote->setText(notes.mouse);
    _mouseNote->setVisible(!notes.mouse.isEmpty());
    _modifyMouse->setEnabled(notes.mouseAvailable);
}

QSlider* PreferencesWindow::makeSlider(const QString& key, QLabel* valueLabel) {
    auto* slider = new QSlider(Qt::Horizontal, this);
    // The panel under the pointer never goes fully transparent.
    const double lowest =
        key == settings::kActiveTransparency ? settings::kMinimumActiveTransparency : 0.0;
    slider->setRange(int(std::lround(lowest * kSliderSteps)), kSliderSteps);
    slider->setMinimumWidth(200);
    connect(slider, &QSlider::valueChanged, this, [this, key, valueLabel](int value) {
        valueLabel->setText(QStringLiteral("%1%").arg(value));
        const double alpha = double(value) / kSliderSteps;
        // Moving the slider previews on the panel through the settings' observers.
        if (std::abs(settings::transparency(_defaults, key) - alpha) > 0.5 / kSliderSteps)
            _defaults.setFloat(alpha, key);
    });
    return slider;
}

QCheckBox* PreferencesWindow::makeBox(const QString& text, const QString& key) {
    auto* box = new QCheckBox(text, this);
    connect(box, &QCheckBox::toggled, this, [this, key](bool on) {
        if (_defaults.boolForKey(key) != on)
            _defaults.setBool(on, key);
    });
    return box;
}

void PreferencesWindow::reload(const QString& key) {
    const auto setSlider = [&](QSlider* slider, QLabel* label) {
        const int value = int(std::lround(settings::transparency(_defaults, key) * kSliderSteps));
        if (slider->value() != value)
            slider->setValue(value);
        label->setText(QStringLiteral("%1%").arg(slider->value()));
    };
    if (key == settings::kActiveTransparency)
        setSlider(_active, _activeValue);
    else if (key == settings::kInactiveTransparency)
        setSlider(_inactive, _inactiveValue);
    const std::pair<const QString&, QCheckBox*> boxes[] = {
        {settings::kShowInMenuBar, _showInMenuBar},
        {settings::kModifyKeyEvents, _modifyKeys},
        {settings::kModifyMouseEvents, _modifyMouse},
        {settings::kCheckForUpdates, _checkForUpdates},
        {settings::kSendProfileInfo, _sendProfile}};
    for (const auto& [boxKey, box] : boxes) {
        if (boxKey == key && box->isChecked() != _defaults.boolForKey(key))
            box->setChecked(_defaults.boolForKey(key));
    }
}

} // namespace orvix
