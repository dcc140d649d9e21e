#include "cli/filter_options.h"

#include <cstdio>

#include "filter/filter_builder.h"

namespace kestrine::cli {
namespace {

std::optional<TCivilDate> ParseDate(const std::string& Text) {
  TCivilDate d;
  char tail = 0;
  if (std::sscanf(Text.c_str(), "%d-%d-%d%c", &d.Year, &d.Month, &d.Day, &tail) != 3 || !IsValidDate(d))
    return std::nullopt;
  return d;
}

}  // namespace

void AddFilterOptions(CLI::App& Command, TFilterOptions& O) {
  Command.add_option("--mask", O.Mask, "Name masks separated by \";\" (wildcards * and ?)");
  auto* eq = Command.add_option("--size-eq", O.SizeEq, "Size equal to KB (whole kilobytes)");
  auto* gt = Command.add_option("--size-gt", O.SizeGt, "Size greater than KB");
  auto* lt = Command.add_option("--size-lt", O.SizeLt, "Size less than KB");
  eq->excludes(gt)->excludes(lt);
  gt->excludes(lt);
  auto* between = Command.add_option("--between", O.Between, "Created or modified between FROM and TO (YYYY-MM-DD)")
                      ->expected(2);
  auto* days = Command.add_option("--last-days", O.LastDays, "Created or modified in the last N days");
  auto* months = Command.add_option("--last-months", O.LastMonths, "Created or modified in the last N months");
  between->excludes(days)->excludes(months);
  days->excludes(months);
  Command.add_option("--attr", O.Attributes, "Attributes an item must all have: letters r h s a");
}

std::variant<TFilter, std::string> BuildCliFilter(const TFilterOptions& O) {
  TFilterDialogState s;
  s.UseFilter = !O.Mask.empty() || O.SizeEq || O.SizeGt || O.SizeLt || !O.Between.empty() || O.LastDays ||
                O.LastMonths || !O.Attributes.empty();
  if (!O.Mask.empty()) s.NameMask = O.Mask;
  if (const auto& size = O.SizeEq ? O.SizeEq : O.SizeGt ? O.SizeGt : O.SizeLt) {
    s.SizeOn = true;
    s.SizeKb = *size;
    s.SizeCompare = O.SizeEq ? TSizeCompare::Equal : O.SizeGt ? TSizeCompare::Greater : TSizeCompare::Smaller;
  }
  if (O.Between.size() == 2) {
    const auto from = ParseDate(O.Between[0]), to = ParseDate(O.Between[1]);
    if (!from || !to) return "--between: dates must be YYYY-MM-DD, got \"" + (from ? O.Between[1] : O.Between[0]) + "\"";
    s.Dates = TDateChoice::Between;
    s.DateBegin = *from;
    s.DateEnd = *to;
  } else if (O.LastDays) {
    s.Dates = TDateChoice::PreviousDays;
    s.Days = *O.LastDays;
  } else if (O.LastMonths) {
    s.Dates = TDateChoice::PreviousMonths;
    s.Months = *O.LastMonths;
  }
  for (char c : O.Attributes) {
    switch (c) {
      case 'r': s.ReadOnly = true; break;
      case 'h': s.Hidden = true; break;
      case 's': s.System = true; break;
      case 'a': s.Archive = true; break;
      default: return std::string("--attr: unknown attribute letter '") + c + "' (use r h s a)";
    }
    s.SelectedAttributes = true;
  }
  auto filter = BuildFilter(s, LocalToday());
  // Without --mask no name test applies: the dialog's default "*.*" would drop names without a dot.
  if (auto* f = std::get_if<TFilter>(&filter); f && O.Mask.empty()) f->Flags &= ~qfName;
  return filter;
}

}  // namespace kestrine::cli
