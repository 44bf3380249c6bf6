// Parts of a test that must meet file permissions or another user even
// where the tests run as root (as CI does): the user "nobody" stands in.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace chimewick_test {

struct UserIds {
  uid_t uid;
  gid_t gid;
};

// The unprivileged user and its group: nobody and nogroup (65534 where the
// system has no such names).
inline UserIds Nobody() {
  UserIds ids{65534, 65534};
  if (const passwd* user = ::getpwnam("nobody")) ids = {user->pw_uid, user->pw_gid};
  if (const group* g = ::getgrnam("nogroup")) ids.gid = g->gr_gid;
  return ids;
}

inline bool RunningAsRoot() { return ::geteuid() == 0; }

// Gives a file or folder to nobody (only as root; it is the caller's own
// otherwise), so that nobody may reach or change it. Links are not followed.
inline bool GiveToNobody(const std::string& path) {
  if (!RunningAsRoot()) return true;
  const UserIds ids = Nobody();
  return ::lchown(path.c_str(), ids.uid, ids.gid) == 0;
}

// While it lives, the process acts as nobody (effective user and group, no
// supplementary groups), so that permissions apply; the end of its scope
// gives root back. Where the process is not root it changes nothing: its
// permissions apply already. Every thread of the process is affected.
class AsNobody {
 public:
  AsNobody() {
    if (!RunningAsRoot()) return;
    const int count = ::getgroups(0, nullptr);
    groups_.resize(count > 0 ? size_t(count) : 0);
    if (count > 0) ::getgroups(count, groups_.data());
    gid_ = ::getegid();
    const UserIds ids = Nobody();
    switched_ = ::setgroups(0, nullptr) == 0 && ::setegid(ids.gid) == 0 && ::seteuid(ids.uid) == 0;
    if (!switched_) Restore();
  }
  ~AsNobody() {
    if (switched_) Restore();
  }
  AsNobody(const AsNobody&) = delete;
  AsNobody& operator=(const AsNobody&) = delete;

  // False where the process is root but could not become nobody.
  bool ok() const { return switched_ || !wasRoot_; }

 private:
  void Restore() {
    [[maybe_unused]] const int user = ::seteuid(0);
    [[maybe_unused]] const int group = ::setegid(gid_);
    [[maybe_unused]] const int groups = ::setgroups(groups_.size(), groups_.data());
    // A change of user makes the process undumpable, which closes its
    // /proc files to tools such as the sanitizers' symbolizer.
    ::prctl(PR_SET_DUMPABLE, 1);
  }

  bool wasRoot_ = RunningAsRoot();
  bool switched_ = false;
  gid_t gid_ = 0;
  std::vector<gid_t> groups_;
};

// A child process that runs body as nobody where the test runs as root (as
// the test's own user otherwise) and ends with its result. Only system calls
// belong in body: it runs in a fork of a process with threads. The child is
// killed, if still running, when this goes.
class ChildAsNobody {
 public:
  explicit ChildAsNobody(const std::function<int()>& body) {
    pid_ = ::fork();
    if (pid_ != 0) return;
    if (RunningAsRoot()) {
      const UserIds ids = Nobody();
      if (::setgroups(0, nullptr) != 0 || ::setresgid(ids.gid, ids.gid, ids.gid) != 0 ||
          ::setresuid(ids.uid, ids.uid, ids.uid) != 0)
        ::_exit(126);
    }
    ::_exit(body());
  }
  ~ChildAsNobody() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  ChildAsNobody(const ChildAsNobody&) = delete;
  ChildAsNobody& operator=(const ChildAsNobody&) = delete;

  bool started() const { return pid_ > 0; }
  // Waits for the child to end; its exit status, -1 when a signal ended it.
  int wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

}  // namespace chimewick_test
