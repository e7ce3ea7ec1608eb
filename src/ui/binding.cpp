#include "ui/binding.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

namespace vantorel {

namespace {
// Listeners outlive no widget: each checks its widget is still there.
template <typename W, typename F>
void onUpdate(Control &control, W *widget, F draw)
{
    QPointer<W> guard(widget);
    const int key = control.onUpdate([guard, draw] {
        if (guard)
            draw(guard.data());
    });
    QObject::connect(widget, &QObject::destroyed, [&control, key] { control.removeView(key); });
    draw(widget);
}
} // namespace

void bindCommon(Control &control, QWidget *widget)
{
    onUpdate(control, widget, [&control](QWidget *w) {
        w->setEnabled(control.enabled());
        // Hide what the state hides; show again only what was hidden that way,
        // so a widget not yet placed in its window never pops up on its own.
        if (!control.visible())
            w->setVisible(false);
        else if (w->testAttribute(Qt::WA_WState_ExplicitShowHide) && w->isHidden())
            w->setVisible(true);
        w->setToolTip(control.toolTip());
    });
    QPointer<QWidget> guard(widget);
    const int key = control.onFocusRequest([guard] {
        if (guard)
            guard->setFocus(Qt::OtherFocusReason);
    });
    QObject::connect(widget, &QObject::destroyed, [&control, key] { control.removeView(key); });
}

void bindLineEdit(Control &control, QLineEdit *edit)
{
    bindCommon(control, edit);
    onUpdate(control, edit, [&control](QLineEdit *e) {
        if (e->text() != control.text())
            e->setText(control.text());
    });
    QObject::connect(edit, &QLineEdit::textChanged, edit, [&control](const QString &t) { control.setText(t); });
}

void bindComboBox(Control &control, QComboBox *combo)
{
    combo->addItems(control.items());
    bindCommon(control, combo);
    onUpdate(control, combo, [&control](QComboBox *c) {
        if (c->currentText() != control.text())
            c->setCurrentText(control.text());
    });
    QObject::connect(combo, &QComboBox::currentTextChanged, combo, [&control](const QString &t) { control.setText(t); });
}

void bindCheckBox(Control &control, QCheckBox *box)
{
    box->setText(control.caption());
    bindCommon(control, box);
    onUpdate(control, box, [&control](QCheckBox *b) {
        if (b->isChecked() != control.ticked())
            b->setChecked(control.ticked());
    });
    QObject::connect(box, &QCheckBox::toggled, box, [&control](bool on) { control.setValue(on ? 1 : 0); });
}

void bindButton(Control &control, QAbstractButton *button)
{
    button->setText(control.caption());
    bindCommon(control, button);
}

void bindLabel(Control &control, QLabel *label)
{
    bindCommon(control, label);
    onUpdate(control, label, [&control](QLabel *l) { l->setText(control.text()); });
}

} // namespace vantorel
