#include "platform/pdx/HistoryPlace.h"

#include "platform/pdx/Sha256.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace orl::pdx {

namespace {

// $XDG_DATA_HOME/orlintide/history, or ~/.local/share/orlintide/history;
// the part that exists without its links, so that every step of it can be
// walked without following one.
std::string privateHistoryBase() {
  std::string data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    data = xdg;
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    data = std::string(home) + "/.local/share";
  } else {
    return {};
  }
  char resolved[PATH_MAX];
  if (::realpath(data.c_str(), resolved) != nullptr) data = resolved;
  while (data.size() > 1 && data.back() == '/') data.pop_back();
  return data + "/orlintide/history";
}

// The folder's name in the private history: the digest of its full path,
// so that two folders of the same name stay apart.
std::string folderId(const std::string& folder) {
  char resolved[PATH_MAX];
  const std::string full = ::realpath(folder.c_str(), resolved) != nullptr ? std::string(resolved) : folder;
  Sha256 sum;
  sum.add(reinterpret_cast<const std::uint8_t*>(full.data()), full.size());
  return sum.hex().substr(0, 32);
}

bool plainSteps(const std::string& path) {
  std::size_t at = 1;
  while (at <= path.size()) {
    auto end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string step = path.substr(at, end - at);
    if (step.empty() || step == "." || step == "..") return false;
    at = end + 1;
  }
  return true;
}

}  // namespace

bool trustedHistoryFolder(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  return info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::vector<std::string> historyRootsOf(const std::string& folder) {
  const std::string beside = (folder.empty() || folder.back() == '/' ? folder : folder + "/") + HistoryFolderName;
  std::vector<std::string> roots{beside, beside + "-" + std::to_string(::geteuid())};
  if (const std::string base = privateHistoryBase(); !base.empty()) roots.push_back(base + "/" + folderId(folder));
  return roots;
}

bool inPrivateHistory(const std::string& path) {
  const std::string base = privateHistoryBase();
  if (base.empty() || path.size() <= base.size() + 1 || path.compare(0, base.size() + 1, base + "/") != 0) return false;
  return plainSteps(path);
}

}  // namespace orl::pdx
