#include "module/classify/jenks.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

namespace qv::module {

namespace {

// The distinct values with their counts, and prefix sums over them of the
// counts, the values and their squares. Values are taken relative to the
// middle one, which keeps the sums of squares small and the differences of
// two sums exact enough.
struct Prefix {
  std::vector<double> count, sum, squares;  // m + 1 entries, [0] = 0

  // Sum of squared deviations from their mean of the distinct values j to
  // i - 1 (j < i), counted with their repeats.
  double cost(size_t j, size_t i) const {
    const double w = count[i] - count[j];
    const double s = sum[i] - sum[j];
    const double c = (squares[i] - squares[j]) - s * s / w;
    return c > 0 ? c : 0;
  }
};

// One row of the programme: best[i] is the least cost of the first i
// distinct values in q classes, split[i] where its last class starts.
// Rows are computed from the previous one by divide and conquer: the best
// split of i never lies left of that of a smaller i.
struct Row {
  const Prefix& p;
  const std::vector<double>& prev;  // row q - 1
  std::vector<double>& best;
  uint32_t* split;
  size_t q;

  void solve(size_t ilo, size_t ihi, size_t jlo, size_t jhi) {
    while (ilo <= ihi) {
      const size_t mid = ilo + (ihi - ilo) / 2;
      const size_t jfirst = std::max(jlo, q - 1);
      const size_t jlast = std::min(jhi, mid - 1);
      double least = std::numeric_limits<double>::infinity();
      size_t at = jfirst;
      for (size_t j = jfirst; j <= jlast; ++j) {
        const double v = prev[j] + p.cost(j, mid);
        if (v < least) {
          least = v;
          at = j;
        }
      }
      best[mid] = least;
      split[mid] = static_cast<uint32_t>(at);
      // The left half recursively, the right half in this loop.
      if (mid > ilo) solve(ilo, mid - 1, jlo, at);
      ilo = mid + 1;
      jlo = at;
    }
  }
};

}  // namespace

std::vector<double> jenksClassStarts(const double* sorted, size_t n, int classes) {
  if (n == 0 || classes < 1) return {};
  std::vector<double> values, counts;
  for (size_t i = 0; i < n; ++i) {
    if (values.empty() || sorted[i] != values.back()) {
      values.push_back(sorted[i]);
      counts.push_back(1);
    } else {
      counts.back() += 1;
    }
  }
  const size_t m = values.size();
  const size_t k = std::min(static_cast<size_t>(classes), m);
  if (k == m) return values;
  if (k == 1) return {values.front()};
  if (m >= std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();

  Prefix p;
  p.count.assign(m + 1, 0);
  p.sum.assign(m + 1, 0);
  p.squares.assign(m + 1, 0);
  const double shift = values[m / 2];
  for (size_t i = 0; i < m; ++i) {
    const double d = values[i] - shift;
    p.count[i + 1] = p.count[i] + counts[i];
    p.sum[i + 1] = p.sum[i] + counts[i] * d;
    p.squares[i + 1] = p.squares[i] + counts[i] * d * d;
  }
  counts.clear();
  counts.shrink_to_fit();

  // Row q covers the i that leave at least one value to each later class.
  std::vector<double> prev(m + 1), best(m + 1);
  for (size_t i = 1; i <= m - (k - 1); ++i) prev[i] = p.cost(0, i);
  std::vector<uint32_t> splits((k - 1) * (m + 1));
  for (size_t q = 2; q <= k; ++q) {
    const size_t last = m - (k - q);
    const size_t first = q == k ? m : q;  // the last row needs only i = m
    Row row{p, prev, best, &splits[(q - 2) * (m + 1)], q};
    row.solve(first, last, q - 1, last - 1);
    std::swap(prev, best);
  }

  std::vector<double> starts(k);
  starts[0] = values[0];
  size_t i = m;
  for (size_t q = k; q >= 2; --q) {
    i = splits[(q - 2) * (m + 1) + i];
    starts[q - 1] = values[i];
  }
  return starts;
}

}  // namespace qv::module
