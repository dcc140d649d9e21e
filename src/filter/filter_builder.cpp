#include "filter/filter_builder.h"

#include <cstdint>
#include <tuple>
#include <utility>

#include "engine/volume/file_info.h"
#include "support/ansi_chars.h"

namespace kestrine {
namespace {

std::string DateText(const TCivilDate& Date) {
  return std::to_string(Date.Year) + "-" + std::to_string(Date.Month) + "-" + std::to_string(Date.Day);
}

// DateFrom and DateTo of the date page; an error text for values its controls cannot hold.
std::variant<std::pair<TDateTime, TDateTime>, std::string> DateRange(const TFilterDialogState& State,
                                                                      const TCivilDate& Today) {
  switch (State.Dates) {
    case TDateChoice::Between:
      if (!IsValidDate(State.DateBegin)) return "invalid date " + DateText(State.DateBegin);
      if (!IsValidDate(State.DateEnd)) return "invalid date " + DateText(State.DateEnd);
      return std::pair{EncodeDate(State.DateBegin), EncodeDate(State.DateEnd)};
    case TDateChoice::PreviousMonths:
      if (State.Months < 0 || State.Months > kMaxFilterMonths)
        return "month count " + std::to_string(State.Months) + " is outside 0.." + std::to_string(kMaxFilterMonths);
      return std::pair{EncodeDate(MonthsBefore(Today, State.Months)), EncodeDate(Today)};
    case TDateChoice::PreviousDays:
      if (State.Days < 0 || State.Days > kMaxFilterDays)
        return "day count " + std::to_string(State.Days) + " is outside 0.." + std::to_string(kMaxFilterDays);
      return std::pair{EncodeDate(Today) - static_cast<double>(State.Days), EncodeDate(Today)};
    case TDateChoice::AllDates:
      break;
  }
  return std::pair{TDateTime{0}, TDateTime{0}};
}

std::int32_t SizeCompareFlag(TSizeCompare Compare) {
  switch (Compare) {
    case TSizeCompare::Equal: return qfSizeEqual;
    case TSizeCompare::Greater: return qfSizeGreater;
    case TSizeCompare::Smaller: return qfSizeSmaller;
  }
  return qfSizeSmaller;
}

std::uint32_t AttributeMask(const TFilterDialogState& State) {
  return (State.ReadOnly ? FileAttr::ReadOnly : 0) | (State.Hidden ? FileAttr::Hidden : 0) |
         (State.Archive ? FileAttr::Archive : 0) | (State.System ? FileAttr::System : 0);
}

}  // namespace

std::string ConvertMask(std::string_view Mask) {
  std::string out;
  out.reserve(Mask.size() * 2);
  char lastNonBlank = '\0';  // of the text converted so far; none yet
  for (const char c : Mask) {
    switch (c) {
      case '*':
      case '?':
        out += '.';
        out += c;
        break;
      case '.':
        out += "[.]";
        break;
      case ' ':
        // Blanks after a ";" separate alternatives; others are part of the name.
        out += lastNonBlank == ';' ? " " : "\\s";
        break;
      default:
        out += c;
    }
    if (out.back() != ' ') lastNonBlank = out.back();
  }
  return out;
}

std::string BuildNameMask(std::string_view Text) {
  std::string mask(TrimControls(Text));
  if (mask.empty()) mask = "*.*";
  if (mask.find_first_of("*?") == std::string::npos) mask = "*" + mask + "*";
  const std::size_t dot = mask.rfind('.');
  if (dot == std::string::npos) return ConvertMask(mask);
  auto part = [](std::string_view s) { return ConvertMask(s.empty() ? "*" : s); };
  const std::string_view whole = mask;
  return part(whole.substr(0, dot)) + "[.]" + part(whole.substr(dot + 1));
}

std::variant<TFilter, std::string> BuildFilter(const TFilterDialogState& State, const TCivilDate& Today) {
  TFilter filter;
  if (!State.UseFilter) return filter;

  filter.Flags = qfName;
  filter.NameMask = BuildNameMask(State.NameMask);

  if (State.Dates != TDateChoice::AllDates) {
    if (!IsValidDate(Today)) return "invalid date " + DateText(Today);
    auto range = DateRange(State, Today);
    if (auto* error = std::get_if<std::string>(&range)) return *error;
    filter.Flags |= qfDate;
    std::tie(filter.DateFrom, filter.DateTo) = std::get<std::pair<TDateTime, TDateTime>>(range);
  }

  if (State.SizeOn) {
    if (State.SizeKb < 0 || State.SizeKb > INT64_MAX / 1024)
      return "size " + std::to_string(State.SizeKb) + " KB is outside 0.." + std::to_string(INT64_MAX / 1024);
    filter.Flags |= qfSize | SizeCompareFlag(State.SizeCompare);
    filter.Size = State.SizeKb * 1024;
  }

  if (State.SelectedAttributes) {
    filter.Flags |= qfAttributes;
    filter.Attributes = AttributeMask(State);
  }
  return filter;
}

}  // namespace kestrine
