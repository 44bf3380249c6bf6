// Loading plug-ins: every shared library in the plug-in folder beside the
// program is opened and its REALPluginMain called with the host's resolver.
// Opening a library runs its code, so only files that no one but root and
// the program's own user can have put there are opened.
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "FileDescriptor.h"
#include "PluginRegistry.h"
#include "chimewick/Log.h"
#include "rb/PluginHost.h"

namespace rb {
namespace {

struct LibraryCloser {
  void operator()(void* handle) const noexcept { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

// Plug-ins stay loaded for the whole run: the host keeps reading their class
// records and calling their functions.
std::vector<LibraryHandle>& LoadedLibraries() {
  static std::vector<LibraryHandle> libraries;
  return libraries;
}

void Skip(const std::string& path, const std::string& reason) {
  chimewick::frameworkLog.line("plug-in %s skipped: %s", path.c_str(), reason.c_str());
}

// The link that names the program's own executable (a test seam).
std::string& ExecutableLink() {
  static std::string link = "/proc/self/exe";
  return link;
}

// Why no one should trust what a folder or file holds, or an empty text:
// it must belong to root or to the program's user, and no one else may
// write to it (not all users, nor a group other than root's or the
// program's own).
std::string UntrustedBecause(const struct stat& info) {
  if (info.st_uid != 0 && info.st_uid != ::geteuid())
    return "it belongs to user " + std::to_string(info.st_uid) + ", neither root nor the program's user";
  if ((info.st_mode & S_IWOTH) != 0) return "every user may write to it";
  if ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0 && info.st_gid != ::getegid())
    return "the group " + std::to_string(info.st_gid) + " may write to it";
  return {};
}

// Why the folder may not hold plug-ins, or an empty text.
std::string FolderProblem(const std::string& folder) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return std::error_code(errno, std::generic_category()).message();
  if (S_ISLNK(info.st_mode)) return "it is a link, and links are not followed";
  if (!S_ISDIR(info.st_mode)) return "it is not a folder";
  return UntrustedBecause(info);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

#if __SIZEOF_POINTER__ == 8
using ElfHeader = Elf64_Ehdr;
using ElfProgramHeader = Elf64_Phdr;
constexpr unsigned char kElfClass = ELFCLASS64;
#else
using ElfHeader = Elf32_Ehdr;
using ElfProgramHeader = Elf32_Phdr;
constexpr unsigned char kElfClass = ELFCLASS32;
#endif

#if defined(__x86_64__)
constexpr unsigned kElfMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kElfMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr unsigned kElfMachine = EM_386;
#else
constexpr unsigned kElfMachine = 0;  // not checked
#endif

// The dynamic loader trusts the file's headers; a damaged or truncated file
// can make it read past the mapped file and take the process down. These
// checks turn such a file into a skipped plug-in. Returns the reason, or an
// empty text for a file worth handing to dlopen.
std::string CheckSharedObject(int fd, std::uintmax_t fileSize) {
  const auto readAt = [fd](void* into, size_t size, std::uintmax_t offset) {
    return ::pread(fd, into, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
  };
  ElfHeader header{};
  if (!readAt(&header, sizeof header, 0)) return "not a shared library (too short)";
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return "not a shared library";
  if (header.e_ident[EI_CLASS] != kElfClass || header.e_type != ET_DYN ||
      (kElfMachine != 0 && header.e_machine != kElfMachine))
    return "a shared library for another kind of machine";
  if (header.e_phentsize != sizeof(ElfProgramHeader) || header.e_phnum == 0 || header.e_phoff > fileSize ||
      (fileSize - header.e_phoff) / sizeof(ElfProgramHeader) < header.e_phnum)
    return "damaged library (program headers)";
  std::vector<ElfProgramHeader> segments(header.e_phnum);
  if (!readAt(segments.data(), segments.size() * sizeof(ElfProgramHeader), header.e_phoff))
    return "damaged library (program headers)";
  bool hasLoadSegment = false, hasDynamic = false;
  for (const ElfProgramHeader& s : segments) {
    if (s.p_type == PT_LOAD) hasLoadSegment = true;
    if (s.p_type == PT_DYNAMIC) hasDynamic = true;
    if (s.p_type != PT_LOAD && s.p_type != PT_DYNAMIC && s.p_type != PT_INTERP) continue;
    if (s.p_offset > fileSize || fileSize - s.p_offset < s.p_filesz || s.p_filesz > s.p_memsz)
      return "damaged or truncated library";
  }
  if (!hasLoadSegment || !hasDynamic) return "not a loadable shared library";
  return {};
}

bool LooksLikeSharedLibrary(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  return name.size() > 3 && (name.ends_with(".so") || name.find(".so.") != std::string::npos);
}

// Why the file may not be opened as a plug-in, or an empty text. It is
// looked at without following a link: a link is never loaded.
std::string FileProblem(const std::string& path) {
  if (const std::string problem = FolderProblem(FolderOf(path)); !problem.empty())
    return "its folder cannot be trusted: " + problem;
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file && errno == ELOOP) return "it is a link, and links are not followed";
  if (!file) return "cannot read the file: " + std::error_code(errno, std::generic_category()).message();
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return "not a regular file";
  if (std::string problem = UntrustedBecause(info); !problem.empty()) return problem;
  return CheckSharedObject(file.get(), std::uintmax_t(info.st_size));
}

}  // namespace

bool LoadPlugin(const std::string& path) {
  if (const std::string problem = FileProblem(path); !problem.empty()) {
    Skip(path, problem);
    return false;
  }
  // A name without a folder would send dlopen searching the library path:
  // the file checked above is the one in the working directory.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  // Local binding: two plug-ins may export functions of the same name.
  LibraryHandle library(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!library) {
    const char* reason = dlerror();
    Skip(path, reason != nullptr ? reason : "cannot be loaded");
    return false;
  }
  dlerror();
  void* entry = dlsym(library.get(), "REALPluginMain");
  if (entry == nullptr) {
    Skip(path, "no REALPluginMain");
    return false;
  }
  // A plug-in is never unmapped, not even when the handles close at exit:
  // objects released late in shutdown still call its destructor, and its
  // records stay in use.
  LibraryHandle pinned(dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
  if (pinned) library = std::move(pinned);
  // Whatever it registered stays in use, so the library stays loaded even
  // when its entry fails.
  LoadedLibraries().push_back(std::move(library));
  try {
    const plugin_host::LoadingFile loading(path);
    reinterpret_cast<REALPluginMainFn>(entry)(&plugin_host::ResolveHostFunction);
  } catch (...) {
    Skip(path, "REALPluginMain raised an exception");
    return false;
  }
  return true;
}

int LoadPlugins(const std::string& folder) {
  if (folder.empty()) return 0;  // no executable path: DefaultPluginFolder said so
  if (const std::string problem = FolderProblem(folder); !problem.empty()) {
    chimewick::frameworkLog.line("plug-in folder %s refused: %s; no plug-ins are loaded from it",
                                 folder.c_str(), problem.c_str());
    return 0;
  }
  std::error_code error;
  std::vector<std::filesystem::path> candidates;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code typeError;
    if (!it->is_directory(typeError) && LooksLikeSharedLibrary(it->path())) candidates.push_back(it->path());
  }
  if (error) {
    chimewick::frameworkLog.line("plug-in folder %s not read: %s", folder.c_str(), error.message().c_str());
    return 0;
  }
  // A fixed order, so that which of two plug-ins registering one class wins
  // does not depend on the file system.
  std::sort(candidates.begin(), candidates.end());
  int started = 0;
  for (const auto& path : candidates)
    if (LoadPlugin(path.string())) ++started;
  return started;
}

std::string DefaultPluginFolder() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink(ExecutableLink(), error);
  if (error || !executable.is_absolute()) {
    // Never a folder of the working directory: whoever chose that could
    // run code in the program.
    chimewick::frameworkLog.line("the program's own path cannot be read from %s (%s): no plug-ins are loaded",
                                 ExecutableLink().c_str(),
                                 error ? error.message().c_str() : "not an absolute path");
    return {};
  }
  return (executable.parent_path() / "plugins").string();
}

void SetExecutableLinkForTesting(const std::string& link) {
  ExecutableLink() = link.empty() ? "/proc/self/exe" : link;
}

}  // namespace rb
