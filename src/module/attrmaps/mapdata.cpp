#include "module/attrmaps/mapdata.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "module/text/cleanchars.h"
#include "module/text/textutil.h"

namespace qv::module::attrmap {

using host::kOk;
using host::Status;

namespace {

template <class T>
T* makeObject(host::ObjectFactory* f, std::string_view ns, std::string_view cls) {
  host::Object* o = f ? f->create(ns, cls) : nullptr;
  T* typed = dynamic_cast<T*>(o);
  if (!typed && o) f->release(o);
  return typed;
}

std::string_view trimmed(std::string_view s) {
  return s.substr(0, static_cast<size_t>(std::max(0, wzstrip(s.data(), static_cast<int>(s.size())))));
}

}  // namespace

Status openMapData(host::ObjectFactory* factory, host::DataSet* ds, MapData* md) {
  host::Host& h = host::host();
  *md = MapData{};
  md->factory = factory;
  md->ds = ds;
  md->place = makeObject<host::AssocArray>(factory, "collection", "associativearray");
  md->width = md->place ? makeObject<host::AssocArray>(factory, "collection", "associativearray")
                        : nullptr;
  if (!md->width) {
    closeMapData(md);
    return host::kHostFailure;
  }
  const int count = h.xvcount(ds);
  md->vars.reserve(static_cast<size_t>(std::max(0, count)));
  for (int i = 0; i < count; ++i) {
    host::VarDesc d;
    Status st = h.xvname(ds, i, &d);
    if (st == kOk) {
      const std::string key = qv::upper(d.name);
      // The first of two columns whose names differ only in case wins.
      if (!md->place->get(key)) {
        st = md->place->put(key, static_cast<double>(md->vars.size()));
        if (st == kOk) st = md->width->put(key, static_cast<double>(d.length));
      }
    }
    if (st != kOk) {
      closeMapData(md);
      return st;
    }
    d.number = i;
    md->vars.push_back(std::move(d));
  }
  return kOk;
}

void closeMapData(MapData* md) {
  for (host::AssocArray** a : {&md->place, &md->width}) {
    if (!*a) continue;
    (*a)->clear();
    md->factory->release(*a);
    *a = nullptr;
  }
}

Column findColumn(const MapData& md, std::string_view upperName) {
  Column c;
  const host::Value* v = md.place ? md.place->get(upperName) : nullptr;
  const double* index = v ? std::get_if<double>(v) : nullptr;
  if (!index || *index < 0 || *index >= static_cast<double>(md.vars.size())) return c;
  const host::VarDesc& d = md.vars[static_cast<size_t>(*index)];
  c.number = d.number;
  c.character = d.type == host::kCharacter;
  const host::Value* w = md.width->get(upperName);
  const double* width = w ? std::get_if<double>(w) : nullptr;
  c.width = width ? static_cast<int>(*width) : d.length;
  c.name = d.name;
  return c;
}

std::string cellText(const MapData& md, const Column& c, bool numbersAsText) {
  if (!c.exists()) return {};
  host::Host& h = host::host();
  if (c.character) return std::string(trimmed(h.xgetchr(md.ds, c.number)));
  if (!numbersAsText) return {};
  const double v = h.xgetnum(md.ds, c.number);
  return std::isnan(v) ? std::string() : formatG(v);
}

std::string cellPadded(const MapData& md, const Column& c) {
  std::string s = cellText(md, c);
  if (c.character && static_cast<int>(s.size()) < c.width) s.resize(static_cast<size_t>(c.width), ' ');
  return s;
}

bool cellNumber(const MapData& md, const Column& c, double* out) {
  if (!c.exists() || c.character) return false;
  const double v = host::host().xgetnum(md.ds, c.number);
  if (!std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool templateWord(const MapData& md, const Column& c, std::string_view value) {
  bool ok = !value.empty();
  for (unsigned char ch : value) {
    if (ch <= ' ' || ch == 0x7f || ch == ';' || ch == '"' || ch == '\'' || ch == '(' ||
        ch == ')' || ch == '/' || ch == '=') {
      ok = false;
      break;
    }
  }
  if (ok) return true;
  host::Host& h = host::host();
  h.xpslog("WARNING: The value of " + c.name + " in observation " +
           std::to_string(md.observation) + " of the data set " + h.dsLibrary(md.ds) + "." +
           h.dsMember(md.ds) + " is not a single word; it is left out of the attribute map.");
  return false;
}

std::string formatG(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

std::string_view valueText(const host::Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* hs = std::get_if<const host::HStr*>(&v)) {
    return *hs ? host::host().kdlgstr(*hs) : std::string_view();
  }
  return {};
}

bool escaped(std::string_view text, std::string* out) {
  const host::HStr* s = CleanChars(text.data(), static_cast<int>(text.size()));
  if (!s) return false;
  *out = std::string(host::host().kdlgstr(s));
  return true;
}

bool sameInstance(std::string_view expected, std::string_view instance) {
  if (expected.size() != instance.size()) return false;
  for (size_t i = 0; i < expected.size(); ++i) {
    char a = qv::upperAscii(expected[i]);
    char b = qv::upperAscii(instance[i]);
    if (a == ' ') a = '_';
    if (b == ' ') b = '_';
    if (a != b) return false;
  }
  return true;
}

bool characterVariable(const PlotContext& plot, std::string_view name) {
  host::Host& h = host::host();
  for (host::DataSet* ds : {plot.plotData, plot.respData, plot.mapData}) {
    if (!ds) continue;
    int number = -1;
    if (h.xvfind(ds, name, &number) != kOk) continue;
    host::VarDesc d;
    if (h.xvname(ds, number, &d) != kOk) continue;
    return d.type == host::kCharacter;
  }
  return false;
}

Status put(host::Stream* out, std::string_view text) {
  return text.empty() ? kOk : out->write(text.data(), text.size());
}

}  // namespace qv::module::attrmap
