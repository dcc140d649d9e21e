#include "ui/settings/reason_text.h"

#include "ui/settings/text_keys.h"

namespace kestrine::ui {
namespace {

// The reason keys follow the ids in order, so one offset maps them all.
constexpr auto kFirst = static_cast<std::size_t>(TText::strReasonDestinationMissing);
static_assert(static_cast<std::size_t>(TText::strReasonSizeOverRuns) - kFirst + 1 ==
                  static_cast<std::size_t>(TReasonId::Count),
              "every reason id has one language key");

TReasonWording Wording(const TLanguageDocument& Language) {
  return [&Language](TReasonId Id) {
    return Text(Language, static_cast<TText>(kFirst + static_cast<std::size_t>(Id))).toStdString();
  };
}

}  // namespace

QString ReasonText(const TLanguageDocument& Language, const TReason& Reason) {
  return QString::fromStdString(kestrine::ReasonText(Reason, Wording(Language)));
}

QString ReasonText(const TLanguageDocument& Language, const TReasons& Reasons) {
  return QString::fromStdString(kestrine::ReasonText(Reasons, Wording(Language)));
}

}  // namespace kestrine::ui
