#include "LagSummary.hpp"

#include <algorithm>

namespace mirevo::inspect {
namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

struct Group {
  double lagMs;
  double centreMs;
};

// The median lag of `found[from, from + count)` and their mean time.
Group group(const std::vector<const LagWindow*>& found, std::size_t from, std::size_t count) {
  std::vector<double> lags;
  double centres = 0.0;
  for (std::size_t i = from; i < from + count; ++i) {
    lags.push_back(*found[i]->lagMs);
    centres += found[i]->startMs + found[i]->lengthMs / 2.0;
  }
  return {median(lags), centres / static_cast<double>(count)};
}

}  // namespace

LagSummary summariseLags(const std::vector<LagWindow>& windows) {
  LagSummary summary;
  summary.windows = windows.size();
  std::vector<const LagWindow*> found;
  for (const LagWindow& window : windows)
    if (window.lagMs) found.push_back(&window);
  summary.withCommonSound = found.size();
  if (found.empty()) return summary;
  std::vector<double> lags;
  for (const LagWindow* window : found) lags.push_back(*window->lagMs);
  summary.medianMs = median(lags);
  // Up to five windows at each end, and never the same window at both.
  const std::size_t count = std::clamp<std::size_t>(found.size() / 4, 1, 5);
  const Group first = group(found, 0, count);
  const Group last = group(found, found.size() - count, count);
  summary.firstMs = first.lagMs;
  summary.lastMs = last.lagMs;
  if (found.size() >= 2 && last.centreMs > first.centreMs)
    summary.driftMsPerMinute =
        (last.lagMs - first.lagMs) / ((last.centreMs - first.centreMs) / 60000.0);
  return summary;
}

}  // namespace mirevo::inspect
