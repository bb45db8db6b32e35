#include "platform/Alert.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

namespace orvix {

namespace {
constexpr const char* kIndexProperty = "orvixAlertAnswer";
constexpr const char* kHelpProperty = "orvixAlertHelp";
} // namespace

QString suppressionButtonTitle() {
    return QStringLiteral("Do not show this message again");
}

std::unique_ptr<QMessageBox> makeAlert(const AlertContent& content) {
    auto box = std::make_unique<QMessageBox>();
    switch (content.style) {
    case AlertStyle::Informational:
        box->setIcon(QMessageBox::Information);
        break;
    case AlertStyle::Warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case AlertStyle::Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    box->setText(content.messageText);
    // Plain text: a percent sign or markup in the text is shown as it is.
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(content.informativeText);

    QPushButton* first =
        box->addButton(content.firstButton.isEmpty() ? QStringLiteral("OK") : content.firstButton,
                       QMessageBox::AcceptRole);
    first->setProperty(kIndexProperty, static_cast<int>(AlertAnswer::First));
    box->setDefaultButton(first);
    if (!content.secondButton.isEmpty()) {
        QPushButton* second = box->addButton(content.secondButton, QMessageBox::RejectRole);
        second->setProperty(kIndexProperty, static_cast<int>(AlertAnswer::Second));
        box->setEscapeButton(second);
    }
    if (!content.thirdButton.isEmpty()) {
        QPushButton* third = box->addButton(content.thirdButton, QMessageBox::ActionRole);
        third->setProperty(kIndexProperty, static_cast<int>(AlertAnswer::Third));
    }
    if (content.showsHelp) {
        QPushButton* help = box->addButton(QMessageBox::Help);
        help->setProperty(kHelpProperty, true);
    }
    if (content.showsSuppressionButton)
        box->setCheckBox(new QCheckBox(suppressionButtonTitle()));
    return box;
}

QAbstractButton* alertButton(QMessageBox& box, AlertAnswer which) {
    for (QAbstractButton* button : box.buttons()) {
        const QVariant index = button->property(kIndexProperty);
        if (index.isValid() && index.toInt() == static_cast<int>(which))
            return button;
    }
    return nullptr;
}

QAbstractButton* alertHelpButton(QMessageBox& box) {
    for (QAbstractButton* button : box.buttons())
        if (button->property(kHelpProperty).toBool())
            return button;
    return nullptr;
}

AlertResult runAlertModally(QMessageBox& box) {
    box.exec();
    AlertResult result;
    if (QAbstractButton* clicked = box.clickedButton()) {
        const QVariant index = clicked->property(kIndexProperty);
        if (index.isValid())
            result.answer = static_cast<AlertAnswer>(index.toInt());
    }
    // Closing the box by the window manager counts as the Escape button.
    if (result.answer == AlertAnswer::None && alertButton(box, AlertAnswer::Second))
        result.answer = AlertAnswer::Second;
    result.suppressed = box.checkBox() && box.checkBox()->isChecked();
    return result;
}

} // namespace orvix
