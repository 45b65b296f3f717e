// Variables of the plot statements: the option that refers to a variable
// and the column it registers, date and time formats, the map's level of
// detail, and default plot names.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "module/attrmaps/attrmaps.h"
#include "module/host/messages.h"
#include "module/plots/plotcall.h"
#include "module/plots/plots.h"
#include "module/text/textutil.h"

namespace qv::module {

using host::kOk;
using host::Status;

namespace plots {

std::string gText(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}


Status intern(std::string_view text, const host::HStr** out) {
  *out = host::host().kdltxt(text.data(), static_cast<long>(text.size()));
  return *out ? kOk : host::kHostFailure;
}

namespace {

// How messages name an option: " X=" is "X=", " DataLabel=" is "DATALABEL=".
std::string optionForMessage(std::string_view option, size_t limit) {
  size_t b = option.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  option.remove_prefix(b);
  while (!option.empty() && option.back() == ' ') option.remove_suffix(1);
  return upper(option.substr(0, std::min(limit, option.size())));
}

std::string trimmedOption(std::string_view option) {
  size_t b = option.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  option.remove_prefix(b);
  while (!option.empty() && option.back() == ' ') option.remove_suffix(1);
  return std::string(option);
}

void notFound(host::DataSet* ds, std::string_view option, std::string_view name) {
  std::string lib, mem;
  getDSinfo(ds, &lib, &mem);
  host::host().xpmlog(kMsgNoVariable, {optionForMessage(option, 10), std::string(name), lib, mem});
}

void notDescribed(host::DataSet* ds, int number) {
  std::string lib, mem;
  getDSinfo(ds, &lib, &mem);
  host::host().xpmlog(kMsgUndescribed, {number + 1, lib, mem});
}

}  // namespace

Status describeVar(host::DataSet* ds, const host::Slot& s, std::string_view option,
                   host::VarDesc* out) {
  host::Host& h = host::host();
  int number = s.var.number;
  const bool byNumber = number >= 0 && (s.var.dataSet == nullptr || s.var.dataSet == ds);
  if (!byNumber) {
    if (!ds || h.xvfind(ds, s.var.name, &number) != kOk) {
      notFound(ds, option, s.var.name);
      return host::kOptionRefused;
    }
  }
  if (!ds || h.xvname(ds, number, out) != kOk) {
    notDescribed(ds, number);
    return host::kOptionRefused;
  }
  out->number = number;
  return kOk;
}

Status slotVariable(PlotCall& c, std::string_view option, const host::Slot& s) {
  if (c.st) return c.st;
  const bool byNumber =
      s.var.number >= 0 && (s.var.dataSet == nullptr || s.var.dataSet == c.plot->varData);
  return processVariable(c.out, option, byNumber ? std::string_view() : s.var.name,
                         byNumber ? s.var.number : -1, c.plot);
}

}  // namespace plots

using qv::upper;

void getDSinfo(host::DataSet* ds, std::string* library, std::string* member) {
  host::Host& h = host::host();
  *library = ds ? h.dsLibrary(ds) : std::string();
  *member = ds ? h.dsMember(ds) : std::string();
}

// --- processVariable --------------------------------------------------------------

namespace {

// The data object and column list of the current variable data set.
void currentColumns(PlotContext* plot, host::DataObject** data, host::List** columns) {
  *columns = plot->varColumns;
  *data = nullptr;
  host::DataSet* ds = plot->varData;
  if (!ds) return;
  if (ds == plot->plotData) {
    *data = plot->plotDataObject;
    if (!*columns) *columns = plot->plotColumns;
  } else if (ds == plot->respData) {
    *data = plot->respDataObject;
    if (!*columns) *columns = plot->respColumns;
  } else if (ds == plot->mapData) {
    *data = plot->mapDataObject;
    if (!*columns) *columns = plot->mapColumns;
  } else {
    for (const RegionLayerData& l : plot->regionLayers)
      if (ds == l.data) {
        *data = l.object;
        if (!*columns) *columns = l.columns;
        break;
      }
  }
}

Status registerColumn(PlotContext* plot, const host::VarDesc& d) {
  host::DataObject* data = nullptr;
  host::List* columns = nullptr;
  currentColumns(plot, &data, &columns);
  const host::Value number = static_cast<double>(d.number);
  if (columns && columns->contains(number)) return kOk;
  if (data) {
    QV_TRY(data->addColumn(d.name));
  }
  if (columns) return columns->append(number);
  return kOk;
}


}  // namespace

Status processVariable(host::Stream* out, std::string_view option, std::string_view name,
                       int number, PlotContext* plot) {
  host::Slot s;
  s.var.name = std::string(name);
  s.var.number = name.empty() ? number : -1;
  host::VarDesc d;
  QV_TRY(plots::describeVar(plot->varData, s, option, &d));

  const bool character = d.type == host::kCharacter;
  if (character && option.find("Rotate") != std::string_view::npos) {
    host::host().xpmlog(kMsgNotNumeric, {plots::trimmedOption(option)});
    return host::kOptionRefused;
  }
  const bool writes = option != " ";
  if (writes) {
    QV_TRY(out->write(option));
  }
  QV_TRY(registerColumn(plot, d));
  if (!writes) return kOk;
  if (plotFlag(*plot, host::kFlagAnyNames)) return out->write(nameLiteral(d.name));
  return out->write(d.name);
}

// --- setResolution --------------------------------------------------------------------

namespace {

// The largest graph size (pixels) each level of detail serves.
constexpr int kLevelSizes[11][2] = {
    {0, 0},       {320, 240},   {400, 300},    {640, 480},    {800, 600},    {1280, 1024},
    {1600, 1200}, {2400, 1800}, {6000, 4800},  {14400, 11520}, {28800, 23040}};

// A whole number of pixels from a host option; 0 when it is none.
long pixels(std::string_view option) {
  const std::string text = host::host().xoptcgt(option);
  if (text.empty()) return 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  return end && *end == '\0' && v > 0 ? v : 0;
}

bool hasVariable(host::DataSet* ds, std::string_view name) {
  int number = -1;
  return host::host().xvfind(ds, name, &number) == kOk;
}

// The graph sizes of the current destinations: our host draws one graph of
// GRAPHWIDTH by GRAPHHEIGHT pixels.
struct GraphSize {
  long width, height;
};

}  // namespace

void setResolution(PlotContext* plot, int density) {
  setResolution(plot->mapData, plot->respData, density);
}

void setResolution(host::DataSet* map, host::DataSet* resp, int density) {
  host::Host& h = host::host();
  if (!map) return;
  const bool resolution = hasVariable(map, "RESOLUTION");
  if (!resolution && density < 0) return;
  if (density >= 0 && !hasVariable(map, "DENSITY")) {
    if (!resolution) return;
    h.xpmlog(kMsgNoDensity);
    density = -1;
  }
  int64_t selected = 0;
  if (h.xoinfo(map, 35, &selected) != kOk) selected = 0;
  if (selected != 0) {
    if (density >= 0) h.xpmlog(kMsgDensitySelected);
    return;
  }
  char where[33];
  if (density >= 0) {
    std::snprintf(where, sizeof where, "density<=%d", density);
  } else {
    const GraphSize sizes[] = {{pixels("GRAPHWIDTH"), pixels("GRAPHHEIGHT")}};
    const int entries = static_cast<int>(std::size(sizes));
    long width = 0, height = 0;
    for (const GraphSize& g : sizes) {
      width = std::max(width, g.width);
      height = std::max(height, g.height);
    }
    if (width == 0 || height == 0 || entries > 10) return;
    int level = -1;
    for (int n = entries; n <= 10; ++n) {
      if (kLevelSizes[n][0] >= width && kLevelSizes[n][1] >= height) {
        level = n;
        break;
      }
    }
    if (level < 0) return;
    std::snprintf(where, sizeof where, "resolution<=%d", level);
  }
  // Item 35 answered that no selection is in effect, so there is none to
  // take off before this one goes on.
  if (h.xselpush(map, where) != kOk) return;
  if (resp && resp != map && h.dsLibrary(resp) == h.dsLibrary(map) &&
      h.dsMember(resp) == h.dsMember(map))
    static_cast<void>(h.xselpush(resp, where));  // unselected, the response still joins
}

// --- defaultName ------------------------------------------------------------------------

Status defaultName(std::string* name, PlotContext* plot) {
  name->resize(static_cast<size_t>(
      std::max(0, wzstrip(name->data(), static_cast<int>(name->size())))));
  host::AssocArray* counts = plot->defaultNames;
  if (!counts) return kOk;
  const host::Value* seen = counts->get(*name);
  const double* count = seen ? std::get_if<double>(seen) : nullptr;
  if (!count) return counts->put(*name, 1.0);
  const long c = static_cast<long>(*count);
  const std::string key = *name;
  *name += std::to_string(c);
  if (name->size() > 100) name->resize(100);
  return counts->put(key, static_cast<double>(c + 1));
}

}  // namespace qv::module
