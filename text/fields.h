// The pieces of text the commands read: a field list, a whole number, and
// a piece of text as a message quotes it back.
#pragma once

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

// The pieces of `text` between the separators, empty ones included.
inline std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != text.npos;
       start = end + 1) {
    pieces.push_back(text.substr(start, end - start));
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// A whole number from 0 to `largest` in decimal digits only: no sign, no
// blank, no exponent.
inline bool read_whole(const std::string &text, unsigned long long largest,
                       unsigned long long &value) {
  errno = 0;
  char *end = nullptr;
  value = std::strtoull(text.c_str(), &end, 10);
  return !text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) &&
         *end == '\0' && errno != ERANGE && value <= largest;
}

// Longest piece of a field quoted back in a message.
constexpr std::size_t quoted_max = 24;

// The text as a message may quote it: printable ASCII only, and not too
// long.
inline std::string shown(const std::string &text) {
  std::string out;
  for (const char c : text.substr(0, quoted_max)) {
    out += std::isprint(static_cast<unsigned char>(c)) != 0 ? c : '?';
  }
  return "'" + out + (text.size() > quoted_max ? "...'" : "'");
}
