#include "ui/settings/worded_text.h"

#include "support/fill_in.h"
#include "ui/settings/text_keys.h"

namespace kestrine::ui {
namespace {

// The keys of each table follow its ids in order, so one offset maps them all.
template <typename Id>
constexpr TText KeyOf(TText First, Id Value) {
  return static_cast<TText>(static_cast<std::size_t>(First) + static_cast<std::size_t>(Value));
}
static_assert(KeyOf(TText::strReasonDestinationMissing, TReasonId::Count) == TText::strSettingsConfigUnreadable,
              "every reason id has one language key");
static_assert(KeyOf(TText::strSettingsConfigUnreadable, TSettingsProblemKind::None) == TText::Count,
              "every settings problem has one language key");

TReasonWording Wording(const TLanguageDocument& Language) {
  return [&Language](TReasonId Id) {
    return Text(Language, KeyOf(TText::strReasonDestinationMissing, Id)).toStdString();
  };
}

}  // namespace

QString ReasonText(const TLanguageDocument& Language, const TReason& Reason) {
  return QString::fromStdString(kestrine::ReasonText(Reason, Wording(Language)));
}

QString ReasonText(const TLanguageDocument& Language, const TReasons& Reasons) {
  return QString::fromStdString(kestrine::ReasonText(Reasons, Wording(Language)));
}

QString ProblemText(const TLanguageDocument& Language, const TSettingsProblem& Problem) {
  if (!Problem) return {};
  std::vector<std::string> facts;
  for (const QString& fact : Problem.Facts) facts.push_back(fact.toStdString());
  const QString wording = Text(Language, KeyOf(TText::strSettingsConfigUnreadable, Problem.Kind));
  return QString::fromStdString(FillIn(wording.toStdString(), facts));
}

}  // namespace kestrine::ui
