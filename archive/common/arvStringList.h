// TStringList: the one ordered list of lines used wherever the engine keeps a list of strings
// (FileSpec, Passwords, the lister's result). Strings are bytes, UTF-8 on this host.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class TStringList {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines) : FLines(lines) {}

  int Count() const { return static_cast<int>(FLines.size()); }
  bool Empty() const { return FLines.empty(); }
  const std::string& operator[](int index) const { return FLines.at(static_cast<size_t>(index)); }
  std::string& operator[](int index) { return FLines.at(static_cast<size_t>(index)); }
  const std::string& Strings(int index) const { return (*this)[index]; }
  void SetStrings(int index, std::string value) { (*this)[index] = std::move(value); }
  int Add(std::string line) {
    FLines.push_back(std::move(line));
    return Count() - 1;
  }
  void Insert(int index, std::string line) {
    FLines.insert(FLines.begin() + index, std::move(line));
  }
  void Delete(int index) { FLines.erase(FLines.begin() + index); }
  void Clear() { FLines.clear(); }
  void Assign(const TStringList& other) { FLines = other.FLines; }
  // Index of the first line equal to text without regard to ASCII case, or -1.
  int IndexOf(const std::string& text) const;

  std::vector<std::string>::const_iterator begin() const { return FLines.begin(); }
  std::vector<std::string>::const_iterator end() const { return FLines.end(); }
  const std::vector<std::string>& Lines() const { return FLines; }
  bool operator==(const TStringList& other) const = default;

 private:
  std::vector<std::string> FLines;
};
