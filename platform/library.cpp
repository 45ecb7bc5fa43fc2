#include "platform/library.h"

#include <dirent.h>
#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace platform {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The entry of `dir` whose name equals `component` ignoring case, or "".
std::string MatchIgnoringCase(const std::string& dir, const std::string& component) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return {};
  std::string found;
  while (dirent* e = ::readdir(d)) {
    if (::strcasecmp(e->d_name, component.c_str()) == 0) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

bool EndsWithIgnoringCase(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         ::strcasecmp(s.c_str() + s.size() - suffix.size(), suffix.c_str()) == 0;
}

}  // namespace

std::string MapPath(const std::string& name) {
  std::string path = name;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.empty() || Exists(path)) return path;

  // Walk the components, matching each missing one case-insensitively.
  std::string result;
  size_t pos = 0;
  if (path[0] == '/') {
    result = "/";
    pos = 1;
  }
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    std::string component = path.substr(pos, next - pos);
    if (!component.empty()) {
      std::string candidate = result + component;
      if (!Exists(candidate)) {
        std::string dir = result.empty() ? "." : result;
        std::string match = MatchIgnoringCase(dir, component);
        if (!match.empty()) candidate = result + match;
      }
      result = candidate;
      if (next < path.size()) result += '/';
    }
    pos = next + 1;
  }
  return result;
}

std::string ProgramDirectory() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "./";
  std::string exe(buffer, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

std::vector<std::string> LibraryCandidates(const std::string& name) {
  std::string mapped = name;
  std::replace(mapped.begin(), mapped.end(), '\\', '/');
  size_t slash = mapped.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : mapped.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? mapped : mapped.substr(slash + 1);

  std::vector<std::string> files;
  if (EndsWithIgnoringCase(file, ".dll")) {
    std::string stem = file.substr(0, file.size() - 4);
    files.push_back("lib" + stem + ".so");
    files.push_back(stem + ".so");
  } else {
    files.push_back(file);
  }

  std::vector<std::string> dirs;
  if (!dir.empty() && dir[0] == '/') {
    dirs.push_back(dir);
  } else {
    if (dir.empty()) dirs.push_back(ProgramDirectory());
    dirs.push_back("./" + dir);
    if (!dir.empty()) dirs.push_back(ProgramDirectory() + dir);
  }

  std::vector<std::string> candidates;
  for (const auto& d : dirs) {
    for (const auto& f : files) {
      std::string path = d + f;
      std::string resolved = MapPath(path);
      candidates.push_back(resolved);
    }
  }
  return candidates;
}

void* LoadModule(const std::string& name, std::string* error) {
  std::string failure = "library not found: " + name;
  for (const auto& candidate : LibraryCandidates(name)) {
    if (!Exists(candidate)) continue;
    if (void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) return handle;
    const char* e = ::dlerror();
    failure = e ? e : "cannot load " + candidate;
    break;
  }
  if (error) *error = failure;
  return nullptr;
}

void* ResolveSymbol(void* module, const char* symbol) { return module && symbol ? ::dlsym(module, symbol) : nullptr; }

TLibrary::~TLibrary() { Free(); }

bool TLibrary::Load(const std::string& name) {
  Free();
  error_.clear();
  for (const auto& candidate : LibraryCandidates(name)) {
    if (!Exists(candidate)) continue;
    handle_ = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) {
      path_ = candidate;
      return true;
    }
    const char* e = ::dlerror();
    error_ = e ? e : "cannot load " + candidate;
    return false;
  }
  error_ = "library not found: " + name;
  return false;
}

void TLibrary::Free() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
  path_.clear();
}

void* TLibrary::Resolve(const char* symbol) const {
  if (!handle_) return nullptr;
  return ::dlsym(handle_, symbol);
}

}  // namespace platform
