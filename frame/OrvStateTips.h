// The texts that tell the user what a mesh's state icons show and what clicking them does, and
// why a sleep or wake-up did not happen. Shared by the thumbnail tiles and the mesh panel so
// that both say the same.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace orvUI {

class StateTips {
    Q_DECLARE_TR_FUNCTIONS(StateTips)
public:
    // The sleep/wake icon.
    static QString sleepIcon(bool asleep);
    // The texture icon; a sleeping mesh's texture cannot be switched.
    static QString textureIcon(bool asleep, bool visible);
    // The control-point icon of a photo.
    static QString controlPoints(bool present);
    // A thumbnail tile as a whole.
    static QString tile(int index, bool mapped);
    // A row of the mesh panel as a whole.
    static QString meshRow(int index, bool mapped);
    // Why a mesh stays asleep or awake; why may be empty.
    static QString wakeFailed(int index, const QString& why);
    static QString sleepFailed(int index, const QString& why);
};

}  // namespace orvUI
