#pragma once
// A recovery's reasons worded in the window's language.

#include <QString>

#include "engine/volume/recovery_reason.h"
#include "settings/language_files.h"

namespace kestrine::ui {

QString ReasonText(const TLanguageDocument& Language, const TReason& Reason);
// Each reason worded, joined as the command line joins them.
QString ReasonText(const TLanguageDocument& Language, const TReasons& Reasons);

}  // namespace kestrine::ui
