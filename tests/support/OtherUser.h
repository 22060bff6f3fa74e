#pragma once

// Other users of a shared folder, for the checks that such a user can turn
// nothing of ours against the tables and read nothing private.
//
//   auto mallory = orl::test::OtherUser::make("orltest-b");
//   if (!mallory) GTEST_SKIP() << orl::test::OtherUser::whyNot();
//   SharedFolder shared;                       // mode 1777, like /tmp
//   mallory->run([&] { ...plant files...; return 0; });
//   auto result = mallory->command({program, "--list-fields", ...});
//
// The users are system accounts without a home, made once with useradd and
// left for the next test run. Making them needs root; without it (or
// without useradd) the tests that need them skip.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orl::test {

struct CommandResult {
  int exitCode = -1;  // -1: killed by a signal or could not start
  std::string output;  // standard output and standard error, in the order written
};

class OtherUser {
 public:
  // The user of that name, made when missing; none when this process may
  // not make or become users.
  static std::optional<OtherUser> make(const std::string& name) {
    if (::geteuid() != 0) return std::nullopt;
    if (::getpwnam(name.c_str()) == nullptr) {
      const std::string command = "useradd --system --no-create-home --shell /usr/sbin/nologin " + name +
                                  " >/dev/null 2>&1";
      if (std::system(command.c_str()) != 0 && ::getpwnam(name.c_str()) == nullptr) return std::nullopt;
    }
    const passwd* entry = ::getpwnam(name.c_str());
    if (entry == nullptr) return std::nullopt;
    return OtherUser(name, entry->pw_uid, entry->pw_gid);
  }
  static const char* whyNot() { return "needs root and useradd to make a second user"; }

  const std::string& name() const { return name_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }

  // Runs `work` in a child process that is this user (and only this user's
  // group); returns what `work` returns, or -1 when the child died.
  int run(const std::function<int()>& work) const {
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("cannot fork");
    if (child == 0) {
      if (!become()) ::_exit(126);
      int status = 125;
      try {
        status = work();
      } catch (...) {
        status = 124;
      }
      ::_exit(status);
    }
    return waitFor(child);
  }

  // Runs a program as this user, with HOME and the settings folders in
  // `home` (made, and given to the user, when missing).
  CommandResult command(const std::vector<std::string>& arguments, const std::string& home) const {
    std::filesystem::create_directories(home);
    if (::chown(home.c_str(), uid_, gid_) != 0) throw std::runtime_error("cannot give " + home + " to " + name_);
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) throw std::runtime_error("cannot make a pipe");
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("cannot fork");
    if (child == 0) {
      ::close(pipeEnds[0]);
      ::dup2(pipeEnds[1], STDOUT_FILENO);
      ::dup2(pipeEnds[1], STDERR_FILENO);
      ::close(pipeEnds[1]);
      if (!become()) ::_exit(126);
      ::setenv("HOME", home.c_str(), 1);
      ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
      ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      std::vector<char*> argv;
      for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      ::execv(argv.front(), argv.data());
      ::_exit(127);
    }
    ::close(pipeEnds[1]);
    CommandResult result;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      result.output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeEnds[0]);
    result.exitCode = waitFor(child);
    return result;
  }

  // Whether this user may open the file for reading (checked by trying).
  bool canRead(const std::string& path) const {
    return run([&] {
      const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (descriptor < 0) return 1;
      ::close(descriptor);
      return 0;
    }) == 0;
  }

 private:
  OtherUser(std::string name, uid_t uid, gid_t gid) : name_(std::move(name)), uid_(uid), gid_(gid) {}

  bool become() const {
    return ::setgroups(0, nullptr) == 0 && ::setgid(gid_) == 0 && ::setuid(uid_) == 0 && ::geteuid() == uid_;
  }

  static int waitFor(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
      if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string name_;
  uid_t uid_;
  gid_t gid_;
};

// A fresh folder that everyone may write and only a file's owner may
// remove from (mode 1777, as a shared group folder or /tmp), below a parent
// everyone may pass through. Removed with its content.
class SharedFolder {
 public:
  SharedFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orlintide-shared-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    parent_ = pattern;
    path_ = parent_ + "/shared";
    if (::chmod(parent_.c_str(), 0755) != 0 || ::mkdir(path_.c_str(), 0777) != 0 ||
        ::chmod(path_.c_str(), 01777) != 0)
      throw std::runtime_error("cannot make a shared folder in " + parent_);
  }
  ~SharedFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(parent_, ignored);
  }
  SharedFolder(const SharedFolder&) = delete;
  SharedFolder& operator=(const SharedFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // A folder beside the shared one, outside it, for files that must not be touched.
  std::string outside() const { return parent_; }

 private:
  std::string parent_;
  std::string path_;
};

}  // namespace orl::test
