#pragma once
// What the core reports as values (a recovery's reasons, a settings file's problem) worded in the
// window's language.

#include <QString>

#include "engine/volume/recovery_reason.h"
#include "settings/language_files.h"
#include "settings/settings_problem.h"

namespace kestrine::ui {

QString ReasonText(const TLanguageDocument& Language, const TReason& Reason);
// Each reason worded, joined as the command line joins them.
QString ReasonText(const TLanguageDocument& Language, const TReasons& Reasons);

QString ProblemText(const TLanguageDocument& Language, const TSettingsProblem& Problem);

}  // namespace kestrine::ui
