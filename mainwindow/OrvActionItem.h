// The concrete action and common items behind newActionItem and newCommonItem. Both copy what
// they are given and never change afterwards.
#pragma once

#include "IOrvActionItem.h"

namespace orvUI {

class OrvActionItem : public IOrvActionItem {
public:
    // Copies the record and builds the children from its sub-item array (read only here).
    OrvActionItem(const _ActionItemInfo_& info, int kind);

    int getKind() const override;
    QString getText() const override;
    QString getIcon() const override;
    QString getName() const override;
    QString getToolTip() const override;
    QString getShortcut() const override;
    void getChildren(QVector<ref_ptr<IOrvActionItem>>& out) const override;
    bool isCheckable() const override;
    bool isChecked() const override;
    unsigned getFlags() const override;
    quint64 getUserData() const override;

protected:
    ~OrvActionItem() override;

private:
    QString m_text;
    QString m_icon;
    QString m_name;
    QString m_toolTip;
    QString m_shortcut;
    // As given; only dereferenced by the constructor, the caller may free the records after.
    const _ActionItemInfo_* m_subItems;
    bool m_checkable;
    bool m_checked;
    std::uint32_t m_flags;
    quint64 m_userData;
    int m_kind;
    QVector<ref_ptr<IOrvActionItem>> m_children;
};

class OrvComItem : public IOrvCommonItem {
public:
    OrvComItem(const _CommonItemInfo_& info, const QVector<ref_ptr<IOrvActionItem>>& items);

    QString getName() const override;
    int getPosition() const override;
    void getActionItems(QVector<ref_ptr<IOrvActionItem>>& out) const override;

protected:
    ~OrvComItem() override;

private:
    std::int32_t m_position;
    QString m_name;
    quint64 m_userData;
    QVector<ref_ptr<IOrvActionItem>> m_items;
};

}  // namespace orvUI
