#pragma once

// The tray's square pictures of a status button, drawn for the panel they land on.

#include <QImage>

#include "Tarnwick/tray/StatusButton.h"
#include "Tarnwick/tray/TrayColors.h"

// The tray's one square picture of `button` at `side` pixels for a panel of `tone`: the title's
// number alone (the unit under it when there is room, its sign such as "°" dropped when only
// then it fits) where its digits fit at least 9 pixels tall per 22 of the side, else the image
// alone.
// Templates and uncoloured titles take the tone's glyph colour, warning colours are shaded to
// stay legible on it, and a panel of unknown tone gets an outline around everything.
QImage trayPicture(const StatusButton& button, int side, PanelTone tone);

// Whether the title's number fits into a tray icon of `side` pixels at a readable height.
bool titleFitsIcon(const StatusButton& button, int side);
