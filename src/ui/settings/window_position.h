#pragma once
// The window's place on the screen, kept in the per-user store.

class QSettings;
class QWidget;

namespace kestrine::ui {

// Left and top under the form's object name + "_Left" / "_Top".
void SaveWindowPosition(QSettings& Store, const QWidget& Form);
// Moves each stored edge; a position that lies off every screen today lands on the primary screen.
void LoadWindowPosition(QSettings& Store, QWidget& Form);

}  // namespace kestrine::ui
