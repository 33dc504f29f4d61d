#include "OrvActionItem.h"

#include <new>

#include "OrvUIElements64t.h"

namespace orvUI {

OrvActionItem::OrvActionItem(const _ActionItemInfo_& info, int kind)
    : m_text(info.text),
      m_icon(info.icon),
      m_name(info.name),
      m_toolTip(info.toolTip),
      m_shortcut(info.shortcut),
      m_subItems(info.subItems),
      m_checkable(info.checkable),
      m_checked(info.checked),
      m_flags(info.flags),
      m_userData(info.userData),
      m_kind(kind)
{
    if (!m_subItems) return;
    // The array ends with the record that carries ActionItemLast; that record is a child too.
    for (int i = 0;; ++i) {
        const _ActionItemInfo_& record = m_subItems[i];
        m_children.append(ref_ptr<IOrvActionItem>(new OrvActionItem(record, i)));
        if (record.flags & ActionItemLast) break;
    }
}

OrvActionItem::~OrvActionItem() = default;

int OrvActionItem::getKind() const { return m_kind; }
QString OrvActionItem::getText() const { return m_text; }
QString OrvActionItem::getIcon() const { return m_icon; }
QString OrvActionItem::getName() const { return m_name; }
QString OrvActionItem::getToolTip() const { return m_toolTip; }
QString OrvActionItem::getShortcut() const { return m_shortcut; }

void OrvActionItem::getChildren(QVector<ref_ptr<IOrvActionItem>>& out) const
{
    out.clear();
    out += m_children;
}

bool OrvActionItem::isCheckable() const { return m_checkable; }
bool OrvActionItem::isChecked() const { return m_checked; }
unsigned OrvActionItem::getFlags() const { return m_flags; }
quint64 OrvActionItem::getUserData() const { return m_userData; }

OrvComItem::OrvComItem(const _CommonItemInfo_& info, const QVector<ref_ptr<IOrvActionItem>>& items)
    : m_position(info.position), m_name(info.name), m_userData(info.userData), m_items(items)
{
}

OrvComItem::~OrvComItem() = default;

QString OrvComItem::getName() const { return m_name; }
int OrvComItem::getPosition() const { return m_position; }

void OrvComItem::getActionItems(QVector<ref_ptr<IOrvActionItem>>& out) const
{
    out.clear();
    out += m_items;
}

// ---- the receiver interface: its special members live in the library with its vtable ----

IOrvActionReceiver::IOrvActionReceiver() noexcept = default;
IOrvActionReceiver::IOrvActionReceiver(const IOrvActionReceiver& other) noexcept : ZimReferenced(other) {}
IOrvActionReceiver& IOrvActionReceiver::operator=(const IOrvActionReceiver& other) noexcept
{
    ZimReferenced::operator=(other);
    return *this;
}
IOrvActionReceiver::~IOrvActionReceiver() = default;

// ---- exported factories ----

ref_ptr<IOrvActionItem> newActionItem(const _ActionItemInfo_& info, int kind)
{
    try {
        return ref_ptr<IOrvActionItem>(new OrvActionItem(info, kind));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

ref_ptr<IOrvCommonItem> newCommonItem(const _CommonItemInfo_& info, const QVector<ref_ptr<IOrvActionItem>>& items)
{
    try {
        return ref_ptr<IOrvCommonItem>(new OrvComItem(info, items));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace orvUI
