// The help pages shipped with the program: help/<language>/, one page per settings tab.
#pragma once

#include <QString>
#include <QStringList>

namespace velorin::ui {

// Where help may be installed, first match wins: beside the program (a build or a portable
// copy), then the installed data folder.
QStringList helpRoots(const QString& programFolder);

// The page of tab (0..4; anything else is the overview page) in the language, else in English;
// empty when no root holds it.
QString helpPagePath(const QStringList& roots, const QString& language, int tab);

// The installed README, the help of last resort; empty when there is none.
QString installedReadme(const QString& programFolder);

}  // namespace velorin::ui
