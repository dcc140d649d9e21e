#pragma once
// The result-filter options shared by scan and recover; they build the filter the dialog would.

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <CLI/CLI.hpp>

#include "filter/filter_record.h"

namespace kestrine::cli {

struct TFilterOptions {
  std::string Mask;
  std::optional<std::int64_t> SizeEq, SizeGt, SizeLt;  // kilobytes
  std::vector<std::string> Between;                    // FROM TO, YYYY-MM-DD
  std::optional<std::int64_t> LastDays, LastMonths;
  std::string Attributes;                               // letters r h s a
};

void AddFilterOptions(CLI::App& Command, TFilterOptions& Options);

// The filter, or one line naming the option that cannot be used.
std::variant<TFilter, std::string> BuildCliFilter(const TFilterOptions& Options);

}  // namespace kestrine::cli
