// Menu and toolbar descriptions. The host and its plug-ins describe each command group as an
// array of _ActionItemInfo_ records and one _CommonItemInfo_; newActionItem and newCommonItem
// turn them into the reference-counted items below, which the main frame and the views' context
// menus build their QActions from. Items are immutable once made.
#pragma once

#include <QString>
#include <QVector>
#include <QtGlobal>
#include <cstdint>

#include "OrvUIGlobal.h"
#include "ZimBase64t.h"

namespace orvUI {

// Bits of _ActionItemInfo_::flags.
enum ActionItemFlag : std::uint32_t {
    ActionItemLast = 0x1,        // last record of its array (the record itself is used)
    ActionItemSeparator = 0x4,   // a separator instead of an action
    ActionItemInMenu = 0x8,      // shown in the group's menu
    ActionItemInToolBar = 0x10,  // shown in the group's toolbar
};

// One command of a group; records of one level form a plain array ended by ActionItemLast.
struct _ActionItemInfo_ {
    QString text;      // action text, or the sub-menu title for an item with sub-items
    QString icon;      // icon file relative to the application directory, no leading "/"
    QString name;      // object name and command key: "command___<plug-in index>" for plug-ins
    QString toolTip;   // empty for none
    QString shortcut;  // key sequence in Qt's native text form; empty for none
    const _ActionItemInfo_* subItems = nullptr;  // first record of the sub-item array, or null
    bool checkable = false;
    bool checked = false;     // initial checked state
    std::uint32_t flags = 0;  // ActionItemFlag bits
    quint64 userData = 0;     // opaque, handed to the command receiver with the name
};

// One command group: a menu of the menu bar and a toolbar.
struct _CommonItemInfo_ {
    std::int32_t position = 0;  // index of the group's menu and toolbar
    QString name;               // menu and toolbar title
    quint64 userData = 0;       // kept by the item, not handed out
};

// Callback carried in the user data of a plug-in's context-menu item: called with the action's
// object name and its checked state when the action triggers.
using OrvItemCallback = void (*)(const QString& name, bool checked);

// Key shortcut callback installed by the host.
using OrvKeyCallback = void (*)();

// One command, separator or sub-menu; made by newActionItem.
class ORVUI_EXPORT IOrvActionItem : public ZimReferenced {
public:
    // Position among its siblings for a child; the value given to newActionItem otherwise.
    virtual int getKind() const = 0;
    virtual QString getText() const = 0;
    virtual QString getIcon() const = 0;
    virtual QString getName() const = 0;
    virtual QString getToolTip() const = 0;
    virtual QString getShortcut() const = 0;
    // Clears out, then appends the children in creation order.
    virtual void getChildren(QVector<ref_ptr<IOrvActionItem>>& out) const = 0;
    virtual bool isCheckable() const = 0;
    // The initial state from the record, not the live state of an action.
    virtual bool isChecked() const = 0;
    virtual unsigned getFlags() const = 0;
    virtual quint64 getUserData() const = 0;

protected:
    IOrvActionItem() noexcept;
    // Copies only the ZimReferenced part; the count is never copied.
    IOrvActionItem(const IOrvActionItem& other) noexcept;
    IOrvActionItem& operator=(const IOrvActionItem& other) noexcept;
    ~IOrvActionItem() override;
};

// A command group with its action items; made by newCommonItem.
class ORVUI_EXPORT IOrvCommonItem : public ZimReferenced {
public:
    virtual QString getName() const = 0;
    virtual int getPosition() const = 0;
    // Clears out, then appends the held action items in order.
    virtual void getActionItems(QVector<ref_ptr<IOrvActionItem>>& out) const = 0;

protected:
    IOrvCommonItem() noexcept;
    IOrvCommonItem(const IOrvCommonItem& other) noexcept;
    IOrvCommonItem& operator=(const IOrvCommonItem& other) noexcept;
    ~IOrvCommonItem() override;
};

}  // namespace orvUI

// ---- appended after the classes above ----

namespace orvUI {

// The receiver handed to IOrvMainFrame::setCommonItems and insertSubMenu. Every action the main
// frame makes from an action item is announced to it once, with the action's object name and
// the item's user data, before the action can trigger. A receiver of another class is passed
// along untouched and told nothing.
class ORVUI_EXPORT IOrvActionReceiver : public ZimReferenced {
public:
    virtual void actionCreated(const QString& name, quint64 userData) = 0;

protected:
    IOrvActionReceiver() noexcept;
    IOrvActionReceiver(const IOrvActionReceiver& other) noexcept;
    IOrvActionReceiver& operator=(const IOrvActionReceiver& other) noexcept;
    ~IOrvActionReceiver() override;
};

}  // namespace orvUI
