#include "http/redirect.h"

#include <cctype>
#include <vector>

namespace http {
namespace {

bool HasScheme(std::string_view text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (char c : text) {
    if (c == ':') return true;
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return false;
}

}  // namespace

std::string RemoveDotSegments(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t pos = path.empty() || path[0] != '/' ? 0 : 1;
  bool endsInDirectory = false;
  while (pos <= path.size()) {
    std::size_t next = path.find('/', pos);
    if (next == std::string_view::npos) next = path.size();
    const std::string_view segment = path.substr(pos, next - pos);
    const bool last = next == path.size();
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      endsInDirectory = last;
    } else if (segment == ".") {
      endsInDirectory = last;
    } else {
      segments.push_back(segment);
      endsInDirectory = false;
    }
    pos = next + 1;
  }
  std::string out;
  for (const std::string_view segment : segments) {
    out += '/';
    out += segment;
  }
  if (endsInDirectory || out.empty()) out += '/';
  return out;
}

std::string ResolveRedirect(bool tls, std::string_view host, std::uint16_t port,
                            std::string_view object, std::string_view location) {
  const std::string_view scheme = tls ? "https:" : "http:";
  std::string target(location.substr(0, location.find('#')));
  if (HasScheme(target)) return target;
  for (char& c : target) {
    if (c == '\\') c = '/';
  }
  if (target.rfind("//", 0) == 0) return std::string(scheme) + target;

  std::string merged;
  if (!target.empty() && target[0] == '/') {
    merged = target;
  } else {
    std::string_view basePath = object.substr(0, object.find_first_of("?#"));
    if (target.empty() || target[0] == '?') {
      merged = std::string(basePath) + target;
    } else {
      const std::size_t slash = basePath.rfind('/');
      merged =
          std::string(basePath.substr(0, slash == std::string_view::npos ? 0 : slash + 1)) + target;
    }
  }
  const std::size_t query = merged.find('?');
  std::string path = RemoveDotSegments(std::string_view(merged).substr(0, query));
  if (query != std::string::npos) path += merged.substr(query);

  std::string url(scheme);
  url += "//";
  url += host;
  if (port != (tls ? 443 : 80)) url += ":" + std::to_string(port);
  url += path;
  return url;
}

}  // namespace http
