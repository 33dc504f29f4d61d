// Shared by the main-window test and its plug-ins: the object a recording plug-in hands out,
// holding every command it was given.
#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "OrvPluginManager64t.h"

struct MwCommand {
    QString command;
    QString objectName;
    bool checked = false;
};

class CMwCommandLog : public ZimReferenced {
public:
    explicit CMwCommandLog(const QString& owner) : m_owner(owner) {}
    const QString& owner() const { return m_owner; }
    const std::vector<MwCommand>& commands() const { return m_commands; }
    void record(const QString& command, const QString& objectName, bool checked)
    {
        m_commands.push_back({command, objectName, checked});
    }
    // Called in the middle of every recorded command (to reach back into the frame from a
    // running command).
    std::function<void()> duringCommand;

private:
    QString m_owner;
    std::vector<MwCommand> m_commands;
};
