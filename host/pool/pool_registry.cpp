#include "pool/pool_registry.h"

#include "pool/fs_util.h"
#include "runtime/host_home.h"
#include "runtime/shared_file.h"

#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

const char FILE_URL_PREFIX[] = "file://";
const char SPECIAL[] = "%\t\n\r,=";

bool fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

std::string escape(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : s) {
    if (std::strchr(SPECIAL, c) != nullptr && c != '\0') {
      out += '%';
      out += hex[(static_cast<unsigned char>(c) >> 4) & 0xF];
      out += hex[static_cast<unsigned char>(c) & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool unescape(const std::string& s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return false;
    const int hi = hex_value(s[i + 1]);
    const int lo = hex_value(s[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type at = s.find(sep, start);
    parts.push_back(s.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

bool parse_list(const std::string& field, std::vector<std::string>& items) {
  items.clear();
  if (field.empty()) return true;
  for (const std::string& raw : split(field, ',')) {
    std::string item;
    if (!unescape(raw, item)) return false;
    items.push_back(item);
  }
  return true;
}

bool parse_attrs(const std::string& field, std::map<std::string, std::string>& attrs) {
  attrs.clear();
  if (field.empty()) return true;
  for (const std::string& raw : split(field, ',')) {
    const std::string::size_type eq = raw.find('=');
    std::string name, value;
    if (eq == std::string::npos || !unescape(raw.substr(0, eq), name) ||
        !unescape(raw.substr(eq + 1), value) || name.empty())
      return false;
    attrs[name] = value;
  }
  return true;
}

bool parse_line(const std::string& line, Pool_Record& rec) {
  const std::vector<std::string> f = split(line, '\t');
  if (f.size() < 5 || f.size() > 6) return false;
  if (!unescape(f[0], rec.uuid) || !unescape(f[1], rec.name) ||
      !unescape(f[2], rec.host_uuid) || !unescape(f[3], rec.url) ||
      !parse_list(f[4], rec.device_ids))
    return false;
  return f.size() < 6 || parse_attrs(f[5], rec.attrs);
}

std::string format_line(const Pool_Record& rec) {
  std::string line = escape(rec.uuid) + '\t' + escape(rec.name) + '\t' +
                     escape(rec.host_uuid) + '\t' + escape(rec.url) + '\t';
  for (size_t i = 0; i < rec.device_ids.size(); ++i) {
    if (i) line += ',';
    line += escape(rec.device_ids[i]);
  }
  line += '\t';
  bool first = true;
  for (const auto& a : rec.attrs) {
    if (!first) line += ',';
    first = false;
    line += escape(a.first) + '=' + escape(a.second);
  }
  return line;
}

}  // namespace

bool normalise_relative_path(const std::string& rel, std::string& out) {
  out.clear();
  if (rel.empty() || rel[0] == '/' || rel.find('\0') != std::string::npos) return false;
  for (const std::string& part : split(rel, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    if (!out.empty()) out += '/';
    out += part;
  }
  return !out.empty();
}

bool pool_url_to_path(const std::string& url, std::string& path) {
  const size_t n = sizeof FILE_URL_PREFIX - 1;
  if (url.compare(0, n, FILE_URL_PREFIX) != 0) return false;
  const std::string abs = url.substr(n);
  if (abs.empty() || abs[0] != '/') return false;
  if (abs.find_first_not_of('/') == std::string::npos) {
    path = "/";
    return true;
  }
  std::string rel;
  if (!normalise_relative_path(abs.substr(abs.find_first_not_of('/')), rel)) return false;
  path = "/" + rel;
  return true;
}

std::string Pool_Record::root() const {
  std::string path;
  return pool_url_to_path(url, path) ? path : std::string();
}

std::string Pool_Registry::default_path() { return host_home() + "/pools"; }

Pool_Registry::Pool_Registry(std::string path) : path_(std::move(path)) {}

bool Pool_Registry::load(std::string* error) {
  pools_.clear();
  std::string text;
  const int rc = read_home_file(path_, text);
  if (rc == 0) return true;
  if (rc < 0) return fail(error, "cannot read pool registry " + path_ + ": " + std::strerror(errno));
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    Pool_Record rec;
    if (!parse_line(line, rec)) {
      pools_.clear();
      return fail(error, "malformed line " + std::to_string(number) + " in " + path_);
    }
    pools_.push_back(rec);
  }
  return true;
}

const Pool_Record* Pool_Registry::find(const std::string& id) const {
  for (const Pool_Record& p : pools_) {
    if (p.uuid == id) return &p;
  }
  for (const Pool_Record& p : pools_) {
    if (p.name == id) return &p;
  }
  return nullptr;
}

const Pool_Record* Pool_Registry::find_root_of(const std::string& dir) const {
  const Pool_Record* best = nullptr;
  size_t best_len = 0;
  for (const Pool_Record& p : pools_) {
    const std::string root = p.root();
    if (root.empty()) continue;
    const bool holds = dir == root || root == "/" ||
                       (dir.compare(0, root.size(), root) == 0 && dir[root.size()] == '/');
    if (holds && root.size() >= best_len) {
      best = &p;
      best_len = root.size();
    }
  }
  return best;
}

bool Pool_Registry::add(const Pool_Record& pool, std::string* error) {
  std::string root;
  if (pool.uuid.empty()) return fail(error, "a pool needs a uuid");
  if (!pool_url_to_path(pool.url, root))
    return fail(error, "pool url must be file:// with an absolute path: " + pool.url);
  if (!make_directories(dir_of(path_), 0700))
    return fail(error, "cannot create " + dir_of(path_) + ": " + std::strerror(errno));
  File_Lock lock(path_ + ".lock");
  if (!lock.locked()) return fail(error, "cannot lock pool registry " + path_);
  if (!load(error)) return false;
  for (auto it = pools_.begin(); it != pools_.end();) {
    if (it->uuid == pool.uuid) {
      it = pools_.erase(it);
      continue;
    }
    if (!pool.name.empty() && it->name == pool.name)
      return fail(error, "pool name " + pool.name + " is used by pool " + it->uuid);
    ++it;
  }
  pools_.push_back(pool);
  return save(error);
}

bool Pool_Registry::remove(const std::string& uuid, std::string* error) {
  File_Lock lock(path_ + ".lock");
  if (!lock.locked()) return fail(error, "cannot lock pool registry " + path_);
  if (!load(error)) return false;
  const size_t before = pools_.size();
  for (auto it = pools_.begin(); it != pools_.end();) {
    it = it->uuid == uuid ? pools_.erase(it) : it + 1;
  }
  return pools_.size() == before || save(error);
}

bool Pool_Registry::save(std::string* error) {
  std::string text =
      "# Quillon3 pool registry: uuid, name, host uuid, url, device ids, attributes\n";
  for (const Pool_Record& p : pools_) text += format_line(p) + '\n';
  return replace_file(path_, text.data(), text.size(), 0600, error);
}
