#pragma once
// The program's own icon, for the window, the tray and the About page.

#include <QIcon>

namespace kestrine::ui {

// Compiled in from data/desktop: ":/kestrine.svg", and ":/kestrine.png" (64 px) for when Qt's SVG
// plugins (Debian libqt6svg6) are missing at run time.
QIcon ProgramIcon();

}  // namespace kestrine::ui
