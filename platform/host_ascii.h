// The small text rules every layer shares, in one place: ASCII case (names and masks are compared
// without regard to ASCII case; other bytes as they are) and the window's path syntax ("\"
// separators, "C:\" roots). Pure functions of their arguments; no system call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace host {

constexpr char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr uint8_t UpperAscii(uint8_t c) {
  return static_cast<uint8_t>(UpperAscii(static_cast<char>(c)));
}
constexpr char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

inline std::string UpperCaseAscii(std::string text) {
  for (char& c : text) c = UpperAscii(c);
  return text;
}
inline std::string LowerCaseAscii(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

// Equal, or `text` begins with `prefix`, without regard to ASCII case.
inline bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}
inline bool StartsTextAscii(std::string_view prefix, std::string_view text) {
  return prefix.size() <= text.size() && SameTextAscii(prefix, text.substr(0, prefix.size()));
}

// "/" to "\" (the window's separator), and back (the host's).
inline std::string SlashToBackslash(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}
inline std::string BackslashToSlash(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

// `name` inside `directory` ("C:\x" + "a.txt" = "C:\x\a.txt", one separator between them);
// "" when there is no directory.
inline std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return {};
  if (directory.back() == '\\') return directory + name;
  return directory + '\\' + name;
}

// The extension of a path's file part, with its dot ("" when it has none).
inline std::string ExtensionOf(const std::string& path) {
  const size_t separator = path.find_last_of("\\/:");
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return {};
  return path.substr(dot);
}

}  // namespace host
