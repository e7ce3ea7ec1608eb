#pragma once

#include "state/control.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace vantorel {

// Two-way bindings between a control's state and its widget. The state is
// the truth; the widget draws it and passes the user's edits back.
void bindCommon(Control &control, QWidget *widget);
void bindLineEdit(Control &control, QLineEdit *edit);
void bindComboBox(Control &control, QComboBox *combo);
void bindCheckBox(Control &control, QCheckBox *box);
void bindButton(Control &control, QAbstractButton *button);
void bindLabel(Control &control, QLabel *label);

} // namespace vantorel
