#pragma once

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QVariant>
#include <QWidget>

// What a screen reader is told about two kinds of control Qt describes poorly: a window built
// on a plain QWidget (Qt calls it a "filler"), and a list (QComboBox), which on Linux Qt names
// by its current entry, so that twelve rows of "5" cannot be told apart.
namespace quarvel {

namespace accessible_detail {

inline constexpr char kRole[] = "quarvelAccessibleRole";

// A list named by its field; its value is the entry shown, its child the popup's entries.
class NamedList : public QAccessibleWidget
{
public:
    explicit NamedList(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) return list()->accessibleName();
        if (t == QAccessible::Value) return list()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == list()->view() ? 0 : -1;
    }
    QStringList actionNames() const override { return {showMenuAction()}; }
    void doAction(const QString& name) override
    {
        if (name == showMenuAction()) list()->showPopup();
    }
};

inline QAccessibleInterface* factory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    const QVariant role = widget->property(kRole);
    if (!role.isValid()) return nullptr;
    if (auto* list = qobject_cast<QComboBox*>(widget)) return new NamedList(list);
    return new QAccessibleWidget(widget, static_cast<QAccessible::Role>(role.toInt()));
}

inline void mark(QWidget* widget, QAccessible::Role role)
{
    static const bool installed = (QAccessible::installFactory(factory), true);
    Q_UNUSED(installed);
    widget->setProperty(kRole, static_cast<int>(role));
}

} // namespace accessible_detail

// A top-level window on a plain QWidget: a frame (QAccessible::Window) or a dialog. Call it
// before anything that tells accessibility of a change (a title set).
inline void exposeAsWindow(QWidget* window, QAccessible::Role role = QAccessible::Window)
{
    accessible_detail::mark(window, role);
}

// A list that a screen reader names by its field (its accessible name) on every platform.
inline void nameListByField(QComboBox* list, const QString& field)
{
    // Marked first: any accessibility event (a name set) makes Qt create and keep its own.
    accessible_detail::mark(list, QAccessible::ComboBox);
    list->setAccessibleName(field);
}

} // namespace quarvel
