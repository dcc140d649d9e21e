#pragma once
// Skins put in force: a skin file's style sheet, or the built-in one, set on the application.

#include <QString>

namespace kestrine::ui {

// Reads Path and applies its style sheet; on failure the skin in force stays and Error names the
// file and why.
bool LoadSkinFile(const QString& Path, QString& Error);
void ApplyBuiltInSkin();
// SkinsFolder()/Name.skn; the built-in skin's name without a file of its own applies the built-in sheet.
bool LoadSkin(const QString& Name, QString& Error);

}  // namespace kestrine::ui
