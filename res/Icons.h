#pragma once

#include <QIcon>
#include <QString>

// Icons and pictures addressed by their resource number (drawn as SVG, so sharp at any scale).
QString IconPath(int nId);
QIcon LoadIcon(int nId);
