#include "module/classify/breaks.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "module/classify/jenks.h"
#include "module/classify/response.h"
#include "module/host/messages.h"
#include "module/text/numtext.h"

namespace qv::module {

namespace {

// Step factors of the nice scaling, in the order they are tried.
constexpr double kStepFactors[] = {1.0, 1.2, 1.6, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0};
constexpr double kShrink = 0.6;              // inner range: d = range * 0.6 / k
constexpr double kSecondShrink = 1.5;        // second try shrinks 1.5 times as much
constexpr double kFirstBreakTolerance = 2.220446049250313e-13;
constexpr double kNegligibleRange = 5e-06;   // range below |high| * this is scaled from 0
constexpr double kStepTolerance = 0.0001;
constexpr double kLn10 = 2.302585092994046;
// Beyond this a start position no longer fits a 64-bit integer.
constexpr double kLargestPosition = 9.0e18;
// More equal-interval classes than this would take gigabytes of breaks and
// map text (and on an overcommitting system end the process instead of
// failing an allocation): it is treated as memory exhaustion up front.
constexpr int32_t kMostIntervalLevels = 1 << 20;

// "%g" text of a break's magnitude, as the zero rule compares them.
void magnitudeText(double v, char (&out)[32]) {
  std::snprintf(out, sizeof out, "%g", std::fabs(v));
}

// An inner break start + i * width is a whole multiple of the nice width,
// a number of one or two significant digits, but adding up doubles leaves
// it a little off (0.30000000000000004 for 3 * 0.1). Bounds are written so
// that they read back exactly, so the break is put back on the decimal it
// stands for: the nearest multiple of a tenth of the width's leading digit
// place. Otherwise a value of 0.3 would fall below the class that its
// label says begins at 0.3.
double onDecimalGrid(double v, double width) {
  if (!std::isfinite(v) || !(width > 0) || !std::isfinite(width)) return v;
  const int place = static_cast<int>(std::floor(std::log10(width))) - 1;
  if (place < -22 || place > 22) return v;  // powers of ten past 1e22 are not exact
  const double unit = std::pow(10.0, std::abs(place));
  const double steps = place < 0 ? v * unit : v / unit;
  if (!(std::fabs(steps) < 4.0e15)) return v;  // beyond whole-number precision
  const double whole = std::round(steps);
  return place < 0 ? whole / unit : whole * unit;
}

// Keeps the non-missing values and makes sure they are ascending (the host
// sorts them; a host that did not is not trusted with the quantiles).
void tidyValues(std::vector<double>* v, size_t from) {
  auto first = v->begin() + static_cast<std::ptrdiff_t>(from);
  auto end = std::remove_if(first, v->end(), [](double x) { return std::isnan(x); });
  v->erase(end, v->end());
  first = v->begin() + static_cast<std::ptrdiff_t>(from);
  if (!std::is_sorted(first, v->end())) std::sort(first, v->end());
}

// The sorted values (repeats kept) and the number of levels: levels 0
// takes the default for the observation count (or, when the host cannot
// count them, for the values read) and stores it in plot->numLevels. No
// observations: no values.
host::Status valuesAndLevels(PlotContext* plot, int32_t variable, int32_t* levels,
                             std::vector<double>* v) {
  if (*levels == 0) {
    const int64_t observations = responseObservations(plot);
    if (observations == 0) return host::kOk;
    if (observations > 0) {
      *levels = getNumberOfBreaks(observations);
      plot->numLevels = *levels;
    }
  }
  QV_TRY(sortValues(plot, variable, 0, v));
  if (v->empty()) return host::kOk;
  if (*levels == 0) {
    *levels = getNumberOfBreaks(static_cast<int64_t>(v->size()));
    plot->numLevels = *levels;
  }
  if (*levels < 1) *levels = 1;
  return host::kOk;
}

}  // namespace

host::Status sortValues(PlotContext* plot, int32_t variable, int32_t distinct,
                        std::vector<double>* values) {
  host::DataSet* ds = classifiedData(plot);
  if (ds == nullptr || values == nullptr) return host::kOk;
  try {
    const size_t from = values->size();
    std::vector<double> scratch;
    // One sorted run from the host (or the regions' values, sorted below);
    // repeats are dropped here, from the run.
    std::vector<double>* target = from == 0 ? values : &scratch;
    host::Status rc = plot->classData && plot->classRegionVar >= 0
                          ? regionValues(plot, variable, target)
                          : host::host().xsortvals(ds, variable, false, target);
    if (rc != host::kOk) {
      host::host().xprrlog(rc);
      if (rc < 0) {
        values->resize(from);
        return rc;
      }
    }
    if (target == &scratch) values->insert(values->end(), scratch.begin(), scratch.end());
    tidyValues(values, from);
    if (distinct) {
      auto first = values->begin() + static_cast<std::ptrdiff_t>(from);
      values->erase(std::unique(first, values->end()), values->end());
    }
    return host::kOk;
  } catch (const std::bad_alloc&) {
    host::host().xmemmsg();
    return host::kNoMemory;
  }
}

int32_t getNumberOfBreaks(int64_t observations) {
  if (observations < 1) return 0;
  double n = static_cast<double>(observations);
  return static_cast<int32_t>(3.3 * (std::log(n) / kLn10) + 1);
}

void scale(double low, double high, int32_t count, double* start, double* width) {
  double s = low, w = 0;
  if (count >= 2) {
    double a = high == 0 ? 1.0 : std::fabs(high);
    double r = high - low;
    if (r < a * kNegligibleRange) {
      // The interval is nothing against its magnitude: scale from zero.
      if (high < 0) {
        high = 0;
        r = -low;
      } else if (high > 0) {
        low = 0;
        r = high;
      } else {
        high = 1.0;
        r = 1.0 - low;
      }
    }
    double raw = r / (count - 1);
    if (std::isfinite(raw) && raw > 0) {
      double m = raw;
      while (m < 1) m *= 10;
      while (m >= 10) m /= 10;
      double t = kStepFactors[10];
      for (int i = 0; i < 10; ++i) {
        if (m - kStepTolerance <= kStepFactors[i]) {
          t = kStepFactors[i];
          break;
        }
      }
      double nice = raw * t / m;
      double h = ((low + high - (count - 1) * nice) / nice) * 0.5 + 0.5;
      if (std::isfinite(nice) && nice > 0 && std::isfinite(h) &&
          std::fabs(h) < kLargestPosition) {
        int64_t j = static_cast<int64_t>(h - kStepTolerance);
        if (h < 0) --j;
        w = nice;
        s = nice * static_cast<double>(j);
      }
    }
  }
  if (start) *start = s;
  if (width) *width = w;
}

void calcMidpoints(double min, double max, int32_t levels, double* start, double* width) {
  int32_t k = levels <= 0 ? 1 : levels;
  if (k == 1) {
    if (start) *start = (min + max) * 0.5;
    if (width) *width = 0;
    return;
  }
  double d = (max - min) * kShrink / k;
  double s = 0, w = 0;
  scale(min + d, max - d, k, &s, &w);
  if (min > s + kFirstBreakTolerance) {
    // The first inner break would lie below the minimum: shrink further.
    scale(min + kSecondShrink * d, max - kSecondShrink * d, k, &s, &w);
  }
  if (start) *start = s;
  if (width) *width = w;
}

host::Status getEqualIntervalRanges(PlotContext* plot, int32_t variable, int32_t levels,
                                    std::vector<double>* breaks) {
  if (classifiedData(plot) == nullptr || breaks == nullptr) return host::kOk;
  try {
    std::vector<double> values;
    host::Status rc = sortValues(plot, variable, 0, &values);
    if (rc != host::kOk) return rc;
    if (values.empty()) return host::kOk;

    const double min = values.front();
    const double max = values.back();
    const bool crossesZero = min < 0 && max > 0;
    if (min == DBL_MAX || max == -DBL_MAX) return host::kOk;
    if (min == max) {
      breaks->push_back(min);
      return host::kOk;
    }
    if (levels == 0) {
      int64_t n = responseObservations(plot);
      // A host that cannot count its observations: count the values read.
      if (n < 0) n = static_cast<int64_t>(values.size());
      levels = getNumberOfBreaks(n);
      plot->numLevels = levels;
    }
    values.clear();
    values.shrink_to_fit();
    if (levels == 1) {
      breaks->push_back(min);
      breaks->push_back(max);
      return host::kOk;
    }

    double start = 0, width = 0;
    calcMidpoints(min, max, levels, &start, &width);
    if (!(width > 0)) return host::kOk;
    if (levels > kMostIntervalLevels) {
      host::host().xmemmsg();
      return host::kNoMemory;
    }

    breaks->reserve(breaks->size() + static_cast<size_t>(levels) + 1);
    breaks->push_back(min);
    // While the breaks cross zero, the inner break whose two neighbours
    // print alike (-5 and 5 around it) is written as exactly 0.
    bool zeroRule = crossesZero;
    char last[32];
    magnitudeText(min, last);
    for (int32_t i = 0; i <= levels - 2; ++i) {
      double v = onDecimalGrid(start + i * width, width);
      if (zeroRule) {
        char next[32];
        magnitudeText(start + (i + 1) * width, next);
        if (std::strcmp(next, last) == 0) {
          breaks->push_back(0.0);
          zeroRule = false;
          continue;
        }
        breaks->push_back(v);
        magnitudeText(v, last);
      } else {
        breaks->push_back(v);
      }
    }
    breaks->push_back(max);
    rewindResponse(plot);
    return host::kOk;
  } catch (const std::bad_alloc&) {
    host::host().xmemmsg();
    return host::kNoMemory;
  }
}

host::Status getQuantileRanges(PlotContext* plot, int32_t variable, int32_t levels,
                               std::vector<double>* breaks) {
  if (classifiedData(plot) == nullptr || breaks == nullptr) return host::kOk;
  try {
    // All values, repeats kept (V); the distinct ones are the runs of V.
    std::vector<double> v;
    QV_TRY(valuesAndLevels(plot, variable, &levels, &v));
    const size_t n = v.size();
    size_t distinct = n == 0 ? 0 : 1;
    for (size_t i = 1; i < n; ++i)
      if (v[i] != v[i - 1]) ++distinct;
    if (distinct == 0) return host::kOk;
    const size_t k = static_cast<size_t>(levels);

    if (k >= distinct) {
      breaks->reserve(breaks->size() + distinct);
      breaks->push_back(v[0]);
      for (size_t i = 1; i < n; ++i)
        if (v[i] != v[i - 1]) breaks->push_back(v[i]);
      return host::kOk;
    }

    // One record per class: the break at evenly spaced positions of V.
    struct ClassRecord {
      double value;
      int64_t position;
    };
    std::vector<ClassRecord> classes(k);
    const double step = static_cast<double>(n) / static_cast<double>(k);
    for (size_t i = 0; i < k; ++i) {
      double p = std::floor(static_cast<double>(i) * step);
      size_t pos = std::min(static_cast<size_t>(p), n - 1);
      classes[i] = {v[pos], static_cast<int64_t>(pos)};
    }
    breaks->reserve(breaks->size() + k + 1);
    breaks->push_back(v[0]);
    for (size_t i = 1; i < k; ++i) breaks->push_back(classes[i].value);
    breaks->push_back(v[n - 1]);
    return host::kOk;
  } catch (const std::bad_alloc&) {
    host::host().xmemmsg();
    return host::kNoMemory;
  }
}

host::Status getJenksRanges(PlotContext* plot, int32_t variable, int32_t levels,
                            std::vector<double>* breaks) {
  if (classifiedData(plot) == nullptr || breaks == nullptr) return host::kOk;
  try {
    std::vector<double> v;
    QV_TRY(valuesAndLevels(plot, variable, &levels, &v));
    if (v.empty()) return host::kOk;
    if (v.front() == v.back()) {
      breaks->push_back(v.front());
      return host::kOk;
    }
    const std::vector<double> starts = jenksClassStarts(v.data(), v.size(), levels);
    if (starts.size() < static_cast<size_t>(levels))
      host::host().xpmlog(kMsgFewerValuesThanClasses,
                          {levels, static_cast<long long>(starts.size())});
    // Each inner break is the first value of the class above it, so the
    // half-open ranges hold exactly the optimal classes.
    breaks->insert(breaks->end(), starts.begin(), starts.end());
    breaks->push_back(v.back());
    return host::kOk;
  } catch (const std::bad_alloc&) {
    host::host().xmemmsg();
    return host::kNoMemory;
  }
}

host::Status getGivenRanges(PlotContext* plot, int32_t variable, std::vector<double>* breaks,
                            bool* openLow, bool* openHigh) {
  *openLow = *openHigh = false;
  if (classifiedData(plot) == nullptr || breaks == nullptr || plot->breaks.size() < 2)
    return host::kOk;
  try {
    std::vector<double> v;
    QV_TRY(sortValues(plot, variable, 0, &v));
    if (v.empty()) return host::kOk;
    const double first = plot->breaks.front(), last = plot->breaks.back();
    const auto below = std::lower_bound(v.begin(), v.end(), first) - v.begin();
    const auto above = v.end() - std::upper_bound(v.begin(), v.end(), last);
    *openLow = below > 0;
    *openHigh = above > 0;
    if (below + above > 0) {
      host::VarDesc d;
      if (host::host().xvname(classifiedData(plot), variable, &d) != host::kOk) d.name = "?";
      host::host().xpmlog(kMsgOutsideBreaks, {static_cast<long long>(below + above), d.name,
                                              roundTripText(first), roundTripText(last)});
    }
    breaks->insert(breaks->end(), plot->breaks.begin(), plot->breaks.end());
    return host::kOk;
  } catch (const std::bad_alloc&) {
    host::host().xmemmsg();
    return host::kNoMemory;
  }
}

}  // namespace qv::module
