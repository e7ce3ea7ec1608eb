#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace vantorel {

// One control of a window, as the operations see it: a text (text and combo
// boxes, captions) or a value 0/1 (check boxes), and the enabled, visible and
// tooltip properties. Reactions run on every change of text or value,
// whoever makes it; views are told of every change of any property.
class Control {
public:
    using Listener = std::function<void()>;

    explicit Control(QString caption = QString(), bool enabled = true, bool visible = true)
        : caption_(std::move(caption)), enabled_(enabled), visible_(visible)
    {
    }
    Control(const Control &) = delete;
    Control &operator=(const Control &) = delete;

    const QString &caption() const { return caption_; }

    const QString &text() const { return text_; }
    void setText(const QString &text);

    int value() const { return value_; }
    bool ticked() const { return value_ == 1; }
    void setValue(int value);

    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool visible() const { return visible_; }
    void setVisible(bool visible);
    const QString &toolTip() const { return toolTip_; }
    void setToolTip(const QString &toolTip);

    const QStringList &items() const { return items_; }
    void setItems(const QStringList &items);

    // Asks the view to give this control the keyboard focus.
    void requestFocus();

    // A change reaction of the program's rules (text or value changed).
    void onChange(Listener l) { reactions_.push_back(std::move(l)); }
    // A view that draws the control (any property changed). Returns a key
    // for removing the view when it goes away.
    int onUpdate(Listener l);
    int onFocusRequest(Listener l);
    void removeView(int key);

private:
    void changed();
    void updated();

    QString caption_;
    QString text_;
    int value_ = 0;
    bool enabled_;
    bool visible_;
    QString toolTip_;
    QStringList items_;
    std::vector<Listener> reactions_;
    std::vector<std::pair<int, Listener>> views_;
    std::vector<std::pair<int, Listener>> focusViews_;
    int nextKey_ = 1;
};

} // namespace vantorel
