#pragma once

#include <QIcon>
#include <QString>

// Icons and pictures addressed by their resource number (drawn as SVG, so sharp at any scale).
QString IconPath(int nId);
// Image nImage of a picture that holds several, such as the two sort arrows.
QString IconPath(int nId, int nImage);
QIcon LoadIcon(int nId);
