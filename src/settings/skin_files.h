#pragma once
// Skin files (".skn"): a 32-bit version of at most 3, a 32-bit length and that many bytes of zlib
// data holding a Qt style sheet.

#include <QByteArray>
#include <QString>

#include "settings/settings_problem.h"

namespace kestrine {

constexpr quint32 kSkinVersion = 3;

// The container around a style sheet; empty when the compressor fails.
QByteArray PackSkin(const QString& StyleSheet);
// False with Error set for a wrong version, a length past the end, or data that does not inflate
// or inflates to more than 4 MiB. Its facts leave out the path, which the file's reader puts first.
bool UnpackSkin(const QByteArray& File, QString& StyleSheet, TSettingsProblem& Error);

// The style sheet of the skin file at Path; on failure Error says why, the path its first fact.
bool ReadSkinFile(const QString& Path, QString& StyleSheet, TSettingsProblem& Error);
// The compiled-in light skin, in force until a skin file is loaded.
QString BuiltInSkin();

}  // namespace kestrine
