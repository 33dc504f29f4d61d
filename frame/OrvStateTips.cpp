#include "OrvStateTips.h"

namespace orvUI {

namespace {

QString withReason(const QString& text, const QString& why)
{
    const QString reason = why.trimmed();
    return reason.isEmpty() ? text + QLatin1Char('.') : text + QStringLiteral(": ") + reason;
}

}  // namespace

QString StateTips::sleepIcon(bool asleep)
{
    return asleep ? tr("Asleep: click to wake the mesh up") : tr("Awake: click to put the mesh to sleep");
}

QString StateTips::textureIcon(bool asleep, bool visible)
{
    if (asleep) return tr("Texture hidden while the mesh sleeps");
    return visible ? tr("Texture shown: click to hide it") : tr("Texture hidden: click to show it");
}

QString StateTips::controlPoints(bool present)
{
    return present ? tr("The photo has control points") : tr("The photo has no control points");
}

QString StateTips::tile(int index, bool mapped)
{
    return (mapped ? tr("Photo %1, mapped") : tr("Photo %1, not mapped")).arg(index) + QLatin1Char('\n') +
           tr("Double-click to open it; drag it onto a folder to move it there");
}

QString StateTips::meshRow(int index, bool mapped)
{
    return (mapped ? tr("Mesh %1, mapped") : tr("Mesh %1, not mapped")).arg(index);
}

QString StateTips::wakeFailed(int index, const QString& why)
{
    return withReason(tr("Mesh %1 could not be woken up and stays asleep").arg(index), why);
}

QString StateTips::sleepFailed(int index, const QString& why)
{
    return withReason(tr("Mesh %1 could not be put to sleep and stays awake").arg(index), why);
}

}  // namespace orvUI
