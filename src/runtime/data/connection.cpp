#include "runtime/data/connection.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "common/ascii.h"

namespace qv::rt {

namespace {

// libpq ends an unquoted value, and a keyword, at any of these.
bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

size_t skipSpaces(std::string_view s, size_t i) {
  while (i < s.size() && isSpace(s[i])) ++i;
  return i;
}

// Whether a keyword may start at `i`: at the start, after a blank, after
// GDAL's "PG:" or a quote around the whole, or in a URI's query.
bool keywordStart(std::string_view s, size_t i) {
  if (i == 0) return true;
  const char c = s[i - 1];
  return isSpace(c) || c == ':' || c == '?' || c == '&' || c == '\'' || c == '"' || c == '(';
}

// The end of the keyword `word` standing at `i` (any letter case) when the
// next character is a blank or "=", else npos.
size_t keywordEnd(std::string_view s, size_t i, std::string_view word) {
  if (!keywordStart(s, i) || !startsWithNoCase(s.substr(i), word)) return std::string_view::npos;
  const size_t end = i + word.size();
  return end < s.size() && (s[end] == '=' || isSpace(s[end])) ? end : std::string_view::npos;
}

// A value starting at `i`, read as libpq reads it: quoted with escapes,
// or up to a blank (in a URI's query: up to "&"). Sets *value to what
// libpq takes; returns where the value ends.
size_t readValue(std::string_view s, size_t i, bool query, std::string* value) {
  if (!query && i < s.size() && s[i] == '\'') {
    for (++i; i < s.size(); ++i) {
      if (s[i] == '\'') return i + 1;
      if (s[i] == '\\' && i + 1 < s.size()) ++i;
      *value += s[i];
    }
    return i;  // not closed: the rest is the value
  }
  for (; i < s.size() && !isSpace(s[i]) && !(query && (s[i] == '&' || s[i] == '#')); ++i) {
    if (!query && s[i] == '\\' && i + 1 < s.size()) ++i;
    *value += s[i];
  }
  return i;
}

// Whether the word at `i` is a keyword with its "=" ("dbname=", "port =").
bool isKeywordPair(std::string_view s, size_t i) {
  const size_t from = i;
  while (i < s.size() && isNameChar(s[i])) ++i;
  return i > from && skipSpaces(s, i) < s.size() && s[skipSpaces(s, i)] == '=';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecoded(std::string_view s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
      r += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
      i += 2;
    } else {
      r += s[i];
    }
  }
  return r;
}

constexpr std::string_view kSecretKeywords[] = {"password", "sslpassword"};

// The passwords of a text: where they stand (offset, length, in order,
// none inside another) and the values a database may quote. As a
// connection string (`whole`), a keyword without "=" takes the next word,
// a value runs on over words that are no "keyword=", and a URI runs to the
// end; in other text a URI ends at a blank.
struct Secrets {
  std::vector<std::pair<size_t, size_t>> spans;
  std::vector<std::string> values;
};

Secrets findSecrets(std::string_view s, bool whole) {
  Secrets r;
  for (size_t i = 0; i < s.size(); ++i) {
    for (std::string_view word : kSecretKeywords) {
      size_t at = keywordEnd(s, i, word);
      if (at == std::string_view::npos) continue;
      const bool query = i > 0 && (s[i - 1] == '?' || s[i - 1] == '&');
      at = skipSpaces(s, at);
      if (at < s.size() && s[at] == '=') {
        at = skipSpaces(s, at + 1);
      } else if (!whole || at == s.size()) {
        break;
      }
      // Shown as "***" already (the connection string put into a message).
      if (s.substr(at, 3) == "***") break;
      std::string value;
      size_t end = readValue(s, at, query, &value);
      if (whole && !query) {
        // libpq fails on what follows a value that is no "keyword=": it
        // may be the rest of a password with a blank in it.
        for (size_t next = skipSpaces(s, end); next < s.size() && !isKeywordPair(s, next);
             next = skipSpaces(s, end)) {
          end = next;
          value += ' ';
          while (end < s.size() && !isSpace(s[end])) value += s[end++];
        }
      }
      if (end > at) {
        r.spans.emplace_back(at, end - at);
        r.values.push_back(std::string(s.substr(at, end - at)));
        if (query) r.values.push_back(percentDecoded(value));
        r.values.push_back(std::move(value));
      }
      i = std::max(i, end > 0 ? end - 1 : 0);
      break;
    }
  }
  // URIs: the user information up to the last "@" (libpq takes the first,
  // so a password with "@" in it would otherwise show its end).
  for (size_t k = s.find("://"); k != std::string_view::npos; k = s.find("://", k + 3)) {
    const size_t from = k + 3;
    if (whole && (k < 2 || !isAlpha(s[k - 1]))) continue;
    size_t end = whole ? s.size() : from;
    if (!whole)
      while (end < s.size() && !isSpace(s[end])) ++end;
    const size_t at = s.substr(0, end).rfind('@');
    if (at == std::string_view::npos || at <= from) continue;
    r.spans.emplace_back(from, at - from);
    const std::string_view info = s.substr(from, at - from);
    if (const size_t colon = info.find(':'); colon != std::string_view::npos) {
      r.values.push_back(std::string(info.substr(colon + 1)));
      r.values.push_back(percentDecoded(info.substr(colon + 1)));
    }
  }
  std::sort(r.spans.begin(), r.spans.end());
  std::vector<std::pair<size_t, size_t>> merged;
  for (const auto& [from, length] : r.spans) {
    if (!merged.empty() && from <= merged.back().first + merged.back().second) {
      auto& last = merged.back();
      last.second = std::max(last.first + last.second, from + length) - last.first;
    } else {
      merged.emplace_back(from, length);
    }
  }
  r.spans = std::move(merged);
  return r;
}

// Whether a PostgreSQL connection string is a URI (GDAL's "PG:" before it
// or not).
bool isUri(std::string_view c) {
  if (startsWithNoCase(c, "PG:")) c.remove_prefix(3);
  return startsWithNoCase(c, "postgresql://") || startsWithNoCase(c, "postgres://");
}

std::string masked(std::string_view s, const std::vector<std::pair<size_t, size_t>>& spans) {
  std::string r(s);
  for (auto it = spans.rbegin(); it != spans.rend(); ++it) r.replace(it->first, it->second, "***");
  return r;
}

void replaceAll(std::string& text, std::string_view what, std::string_view with) {
  for (size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += with.size())
    text.replace(p, what.size(), with);
}

// The pieces of a password a message may quote: the whole, and its parts
// between blanks and the characters that end a word for libpq or in a URI.
std::vector<std::string> pieces(const std::vector<std::string>& values) {
  std::vector<std::string> r;
  for (const auto& v : values) {
    r.push_back(v);
    size_t from = 0;
    for (size_t i = 0; i <= v.size(); ++i) {
      const bool cut = i == v.size() || isSpace(v[i]) ||
                       std::string_view("@:/?&=,'\"\\").find(v[i]) != std::string_view::npos;
      if (!cut) continue;
      if (i > from) r.push_back(v.substr(from, i - from));
      from = i + 1;
    }
  }
  // Longer first, so that a piece inside another goes with it.
  std::sort(r.begin(), r.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  r.erase(std::unique(r.begin(), r.end()), r.end());
  return r;
}

}  // namespace

bool isConnectionString(std::string_view place) {
  size_t colon = place.find(':');
  if (colon == std::string_view::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i)
    if (!isAlpha(place[i])) return false;
  return true;
}

std::string hidePasswords(std::string_view text, std::string_view connection) {
  std::string r(text);
  Secrets secrets;
  if (!connection.empty()) {
    secrets = findSecrets(connection, true);
    replaceAll(r, connection, masked(connection, secrets.spans));
  }
  r = masked(r, findSecrets(r, false).spans);
  for (const auto& piece : pieces(secrets.values)) {
    if (piece.empty() || piece == "***") continue;
    if (piece.size() >= 3) {
      replaceAll(r, piece, "***");
    } else {
      for (char quote : {'"', '\''}) replaceAll(r, quote + piece + quote, std::string{quote} + "***" + quote);
    }
  }
  return r;
}

bool isPostgresConnection(std::string_view c) {
  return startsWithNoCase(c, "PG:") || isUri(c);
}

std::string withConnectTimeout(std::string_view c) {
  if (!isPostgresConnection(c) || std::getenv("PGCONNECT_TIMEOUT") || std::getenv("PGSERVICE"))
    return std::string(c);
  for (size_t i = 0; i < c.size(); ++i)
    for (std::string_view word : {"connect_timeout", "service"}) {
      const size_t end = keywordEnd(c, i, word);
      if (end != std::string_view::npos && skipSpaces(c, end) < c.size() && c[skipSpaces(c, end)] == '=')
        return std::string(c);
    }
  const std::string setting = "connect_timeout=" + std::to_string(kConnectTimeoutSeconds);
  if (isUri(c))  // one more item in its query
    return std::string(c) + (c.find('?') == std::string_view::npos ? "?" : "&") + setting;
  // A keyword string: the setting first, so that a later one of the
  // user's would win.
  return std::string(c.substr(0, 3)) + setting + " " + std::string(c.substr(3));
}

std::string statementTimeoutStatement() {
  return std::string(
             "DO $$BEGIN IF current_setting('statement_timeout') = '0' THEN "
             "PERFORM set_config('statement_timeout', '") +
         kStatementTimeout + "', false); END IF; END$$";
}

}  // namespace qv::rt
