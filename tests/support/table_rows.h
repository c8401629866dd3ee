// Test tables kept as text beside their tests and compiled in: a *.rows file
// holds one raw string literal, included where the table is needed. One row
// a line, fields split by '|' (outside quotes) and trimmed; blank lines and
// lines starting with '#' are left out.
#pragma once

#include <cctype>
#include <cstddef>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

using Row = std::vector<std::string>;

inline std::vector<Row> TableRows(std::string_view text) {
  std::vector<Row> rows;
  std::istringstream lines{std::string(text)};
  for (std::string line; std::getline(lines, line);) {
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] == '#') continue;
    Row row(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '|' && !quoted) {
        row.emplace_back();
        continue;
      }
      if (line[i] == '"' && (i == 0 || line[i - 1] != '\\')) quoted = !quoted;
      row.back() += line[i];
    }
    for (std::string& field : row) {
      field.erase(0, field.find_first_not_of(' '));
      field.erase(field.find_last_not_of(' ') + 1);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// The bytes a field spells, as a sequence of blank-separated pieces: hex
// digits in pairs ("05 01 1f90"), "text" with the escapes \r \n \t \0 \"
// \xHH and \\ (a backslash), and N*"text", the text N times over.
inline std::string Bytes(std::string_view field) {
  const auto hex = [](char c) { return std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10; };
  std::string bytes;
  for (std::size_t i = 0; i < field.size();) {
    std::size_t digits = i;
    while (digits < field.size() && std::isdigit(static_cast<unsigned char>(field[digits]))) {
      ++digits;
    }
    if (digits + 1 < field.size() && field[digits] == '*' && field[digits + 1] == '"') {
      const std::size_t times = std::stoul(std::string(field.substr(i, digits - i)));
      std::size_t end = digits + 2;
      while (end < field.size() && field[end] != '"') ++end;
      for (std::size_t n = 0; n < times; ++n) bytes += field.substr(digits + 2, end - digits - 2);
      i = end + 1;
    } else if (field[i] == '"') {
      for (++i; i < field.size() && field[i] != '"'; ++i) {
        if (field[i] != '\\') {
          bytes += field[i];
          continue;
        }
        const char e = field[++i];
        if (e == 'x') {
          bytes += static_cast<char>(hex(field[i + 1]) * 16 + hex(field[i + 2]));
          i += 2;
        } else {
          bytes += e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e == '0' ? '\0' : e;
        }
      }
      ++i;
    } else if (std::isxdigit(static_cast<unsigned char>(field[i]))) {
      bytes += static_cast<char>(hex(field[i]) * 16 + hex(field[i + 1]));
      i += 2;
    } else {
      ++i;  // a blank between pieces
    }
  }
  return bytes;
}

// "NAME=VALUE & NAME=VALUE ...": each name with its value, in order.
inline std::vector<std::pair<std::string, std::string>> Assignments(std::string_view field) {
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!field.empty()) {
    const std::string_view item = field.substr(0, field.find(" & "));
    const std::size_t equals = item.find('=');
    pairs.emplace_back(item.substr(0, equals), item.substr(equals + 1));
    field.remove_prefix(item.size() == field.size() ? item.size() : item.size() + 3);
  }
  return pairs;
}

}  // namespace testsupport
