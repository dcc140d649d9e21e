#pragma once
// What went wrong with the settings file, a language file or a skin file: a kind and its facts,
// worded by the window in its own language.

#include <QString>
#include <QStringList>

namespace kestrine {

// The facts of each kind, in the order its wording takes them (%1, %2...).
enum class TSettingsProblemKind {
  ConfigUnreadable,        // path, the file's error
  ConfigNoRootKept,        // path, where it was kept
  ConfigNoRootNotKept,     // path, where it could not be kept
  ConfigMalformedKept,     // path, line, column, the parser's message, where it was kept
  ConfigMalformedNotKept,  // path, line, column, the parser's message, where it could not be kept
  ConfigUnwritable,        // path, the file's error
  LanguageUnreadable,      // path, the file's error
  LanguageMalformed,       // path, line, column, the parser's message
  SkinUnopenable,          // path, the file's error
  SkinTooLarge,            // path
  SkinShorterThanHeader,   // path
  SkinNewerVersion,        // path, the file's version, the newest known
  SkinLengthPastEnd,       // path, the length the header gives
  SkinNoDecompressor,      // path
  SkinSheetTooLarge,       // path, the most bytes a style sheet may have
  SkinDamaged,             // path
  None                     // nothing went wrong; also the number of kinds
};

struct TSettingsProblem {
  TSettingsProblemKind Kind = TSettingsProblemKind::None;
  QStringList Facts;
  explicit operator bool() const { return Kind != TSettingsProblemKind::None; }
};

}  // namespace kestrine
