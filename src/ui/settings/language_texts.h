#pragma once
// A language applied to a window: captions, and the names a screen reader gives controls that
// show no text of their own.

#include <QString>
#include <QStringList>

#include "settings/language_files.h"

class QWidget;

namespace kestrine::ui {

// Loads LangsFolder()/Name.txt into Document (the one loaded before stays when there is no such
// file) and sets the document's texts on every action, menu, button, group box, label (not one that
// opens links) and tab-widget page owned by Window whose object name is a key; lists, progress bars
// and spin boxes take the text as their accessible name. The window's own caption, combo boxes and
// edits keep theirs. False with Error set, the document left inactive (English in force), when the
// file could not be read or is not well-formed.
bool ApplyLanguage(const QString& Name, TLanguageDocument& Document, QWidget& Window, TSettingsProblem* Error = nullptr);
// A list's column captions, under the keys List + "Column1" ... List + "Column" + Count.
QStringList ColumnCaptions(const TLanguageDocument& Document, const QString& List, int Count);
// The same texts from a document already loaded, for a window made after the language was applied.
void ApplyTexts(const TLanguageDocument& Document, QWidget& Window);

}  // namespace kestrine::ui
