#pragma once
// Skins put in force: a skin file's style sheet, or the built-in one, set on the application.

#include <QString>

#include "settings/settings_problem.h"

namespace kestrine::ui {

// Reads Path and applies its style sheet; on failure the skin in force stays and Error says why.
bool LoadSkinFile(const QString& Path, TSettingsProblem& Error);
void ApplyBuiltInSkin();
// SkinsFolder()/Name.skn; the built-in skin's name without a file of its own applies the built-in sheet.
bool LoadSkin(const QString& Name, TSettingsProblem& Error);

}  // namespace kestrine::ui
