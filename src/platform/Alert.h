#pragma once

#include <QString>
#include <functional>
#include <memory>

class QAbstractButton;
class QMessageBox;

namespace orvix {

// Alerts are built in one step and run in another, so their texts and buttons
// can be inspected without a modal loop. Buttons are numbered in the order
// they were given: the first is the default, the second answers Escape.
enum class AlertAnswer { First, Second, Third, None };

struct AlertResult {
    AlertAnswer answer = AlertAnswer::None;
    bool suppressed = false; // the suppression box was ticked
};

using AlertRunner = std::function<AlertResult(QMessageBox&)>;

enum class AlertStyle { Informational, Warning, Critical };

struct AlertContent {
    QString messageText;
    QString informativeText;
    QString firstButton;  // empty: the standard "OK"
    QString secondButton; // empty: none
    QString thirdButton;  // empty: none
    AlertStyle style = AlertStyle::Warning;
    bool showsSuppressionButton = false;
    bool showsHelp = false;
};

std::unique_ptr<QMessageBox> makeAlert(const AlertContent& content);

// The numbered button, the help button, or nullptr.
QAbstractButton* alertButton(QMessageBox& box, AlertAnswer which);
QAbstractButton* alertHelpButton(QMessageBox& box);

// Runs the box modally and reads the answer and the suppression box.
AlertResult runAlertModally(QMessageBox& box);

// The standard title of the suppression check box.
QString suppressionButtonTitle();

} // namespace orvix
