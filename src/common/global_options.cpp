#include "common/global_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/ascii.h"

namespace qv {

namespace {

// The longest OUTNAME= stem: room is left for the number and the extension.
constexpr size_t kMaxFileStem = 200;

std::string num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

bool numeric(OptForm form) {
  return form == OptForm::Integer || form == OptForm::Number || form == OptForm::WordOrNumber ||
         form == OptForm::Numbers;
}

// What a message calls a value of the form that is no word.
std::string valueWhat(const GlobalOptionDef& def) {
  if (*def.what) return def.what;
  switch (def.form) {
    case OptForm::Integer: return "a whole number";
    case OptForm::Number:
    case OptForm::WordOrNumber: return "a number";
    case OptForm::Numbers: return std::to_string(def.count) + " numbers in parentheses";
    case OptForm::Char: return "one character";
    case OptForm::Name: return "a name";
    case OptForm::Text:
    case OptForm::Quoted:
    case OptForm::WordOrQuoted: return "a quoted text";
    case OptForm::Switch:
    case OptForm::Word: break;
  }
  return "";
}

// The row's words and then `what` (when not ""): "A, B or C".
std::string choices(const GlobalOptionDef& def, const std::string& what) {
  std::vector<std::string> items;
  for (int i = 0; !optionWord(def, i).empty(); ++i) items.emplace_back(optionWord(def, i));
  if (!what.empty()) items.push_back(what);
  std::string out;
  for (size_t i = 0; i < items.size(); ++i)
    out += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + items[i];
  return out;
}

// The numbers of a Numbers default: "(1 2 3 4)".
std::vector<double> numbersOf(std::string_view text) {
  std::vector<double> out;
  std::string s(text);
  for (char& c : s)
    if (c == '(' || c == ')') c = ' ';
  const char* p = s.c_str();
  for (char* end = nullptr;; p = end) {
    const double v = std::strtod(p, &end);
    if (end == p) break;
    out.push_back(v);
  }
  return out;
}

OptionValue defaultValue(const GlobalOptionDef& def) {
  OptionValue v;
  switch (def.form) {
    case OptForm::Switch: v.on = std::string_view(def.def) == def.name; break;
    case OptForm::Integer:
    case OptForm::Number: v.number = std::strtod(def.def, nullptr); break;
    case OptForm::WordOrNumber:
      if (optionWordIndex(def, def.def) >= 0) v.text = def.def;
      else v.number = std::strtod(def.def, nullptr);
      break;
    case OptForm::Numbers: v.numbers = numbersOf(def.def); break;
    default: v.text = def.def; break;
  }
  return v;
}

// "NAME=words|value", or "NAME|NONAME" for a switch.
std::string syntax(const GlobalOptionDef& def) {
  if (def.form == OptForm::Switch) return std::string(def.name) + "|" + def.noName;
  std::string s = std::string(def.name) + "=" + def.words;
  if (*def.value) s += std::string(*def.words ? "|" : "") + def.value;
  return s;
}

}  // namespace

bool checkTileUrl(const GlobalOptionDef&, std::string& text, std::string* why) {
  if (text.empty()) return true;  // refused as no URL template at all
  for (const char* part : {"{z}", "{x}", "{y}"})
    if (text.find(part) == std::string::npos) {
      *why = std::string("the URL template must contain ") + part;
      return false;
    }
  return true;
}

bool trimProjection(const GlobalOptionDef& def, std::string& text, std::string*) {
  text = std::string(trimBlanks(text));
  if (text.empty()) text = def.def;
  return true;
}

bool checkFileStem(const GlobalOptionDef&, std::string& text, std::string* why) {
  if (trimBlanks(text).empty()) {
    *why = "the file name stem must not be empty";
    return false;
  }
  for (unsigned char c : text)
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) {
      *why = c == '/' || c == '\\'
                 ? "the file name stem must not hold a slash or backslash; --out names the folder"
                 : "the file name stem must not hold a control character";
      return false;
    }
  if (text.size() > kMaxFileStem) {
    *why = "the file name stem is longer than " + std::to_string(kMaxFileStem) + " bytes";
    return false;
  }
  return true;
}

bool checkLonLatBox(const std::vector<double>& n, std::string* why) {
  if (n.size() != 4) return false;
  if (std::fabs(n[1]) > 90 || std::fabs(n[3]) > 90) {
    *why = "the latitudes (the second and fourth numbers) must lie from -90 to 90";
    return false;
  }
  if (!(n[1] < n[3])) {
    *why = "the southern latitude (the second number) must be below the northern (the fourth)";
    return false;
  }
  if (n[0] == n[2]) {
    *why = "the western and eastern longitudes (the first and third numbers) must differ";
    return false;
  }
  return true;
}

const GlobalOptionDef* findGlobalOption(std::string_view name,
                                        std::span<const GlobalOptionDef> table) {
  for (const GlobalOptionDef& d : table)
    if (sameNoCase(name, d.name) || (*d.noName && sameNoCase(name, d.noName))) return &d;
  return nullptr;
}

int optionWordIndex(const GlobalOptionDef& def, std::string_view text) {
  for (int i = 0;; ++i) {
    const std::string_view w = optionWord(def, i);
    if (w.empty()) return -1;
    if (sameNoCase(w, text)) return i;
  }
}

std::string optionChoices(const GlobalOptionDef& def) { return choices(def, ""); }

std::string optionExpected(const GlobalOptionDef& def) {
  std::string out = choices(def, valueWhat(def));
  if (numeric(def.form))
    out += (def.form == OptForm::Numbers ? ", each from " : " from ") + num(def.min) + " to " +
           num(def.max);
  return out;
}

std::string globalOptionList(std::string_view item, std::string_view indent,
                             std::string_view quote, size_t width) {
  std::string out;
  for (const GlobalOptionDef& d : kGlobalOptions) {
    std::string notes;
    if (numeric(d.form)) notes = num(d.min) + " to " + num(d.max);
    if (*d.def) notes += (notes.empty() ? "" : "; ") + std::string("default ") + d.def;
    const std::string text = std::string(quote) + syntax(d) + std::string(quote) + ": " +
                             d.help + (notes.empty() ? "" : " (" + notes + ")") + ".";
    out += wrapText(text, width, item, indent);
  }
  return out;
}

OptionValues::OptionValues() {
  for (const GlobalOptionDef& d : kGlobalOptions) at(d.id) = defaultValue(d);
}

int OptionValues::choice(GlobalOpt id) const {
  return optionWordIndex(globalOption(id), text(id));
}

std::string OptionValues::valueText(GlobalOpt id) const {
  const GlobalOptionDef& d = globalOption(id);
  const OptionValue& v = at(id);
  switch (d.form) {
    case OptForm::Switch: return v.on ? d.name : d.noName;
    case OptForm::Integer: return std::to_string(static_cast<long long>(v.number));
    case OptForm::Number: return num(v.number);
    case OptForm::WordOrNumber: return v.text.empty() ? num(v.number) : v.text;
    case OptForm::Numbers: {
      std::string s;
      for (double n : v.numbers) s += (s.empty() ? "" : " ") + num(n);
      return "(" + s + ")";
    }
    default: return v.text;
  }
}

std::string OptionValues::spelled(GlobalOpt id) const {
  if (globalOption(id).form == OptForm::Switch) return valueText(id);
  return std::string(globalOption(id).name) + "=" + valueText(id);
}

std::optional<bool> OptionValues::switchNamed(std::string_view name) const {
  const GlobalOptionDef* d = findGlobalOption(name);
  if (!d || d->form != OptForm::Switch) return std::nullopt;
  return sameNoCase(name, d->name) ? on(d->id) : !on(d->id);
}

bool OptionValues::setSwitchNamed(std::string_view name, bool on) {
  const GlobalOptionDef* d = findGlobalOption(name);
  if (!d || d->form != OptForm::Switch) return false;
  setOn(d->id, sameNoCase(name, d->name) ? on : !on);
  return true;
}

std::optional<std::string> OptionValues::textNamed(std::string_view name) const {
  const GlobalOptionDef* d = findGlobalOption(name);
  if (!d) return std::nullopt;
  return valueText(d->id);
}

}  // namespace qv
