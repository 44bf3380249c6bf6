// Loading plug-ins: every shared library in the plug-in folder is opened and
// its REALPluginMain called with the host's resolver.
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

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
std::string CheckSharedObject(const std::string& path) {
  std::error_code error;
  const auto fileSize = std::filesystem::file_size(path, error);
  if (error) return "cannot read the file: " + error.message();
  std::ifstream file(path, std::ios::binary);
  ElfHeader header{};
  if (!file.read(reinterpret_cast<char*>(&header), sizeof header)) return "not a shared library (too short)";
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return "not a shared library";
  if (header.e_ident[EI_CLASS] != kElfClass || header.e_type != ET_DYN ||
      (kElfMachine != 0 && header.e_machine != kElfMachine))
    return "a shared library for another kind of machine";
  if (header.e_phentsize != sizeof(ElfProgramHeader) || header.e_phnum == 0 || header.e_phoff > fileSize ||
      (fileSize - header.e_phoff) / sizeof(ElfProgramHeader) < header.e_phnum)
    return "damaged library (program headers)";
  std::vector<ElfProgramHeader> segments(header.e_phnum);
  file.seekg(static_cast<std::streamoff>(header.e_phoff));
  if (!file.read(reinterpret_cast<char*>(segments.data()),
                 static_cast<std::streamsize>(segments.size() * sizeof(ElfProgramHeader))))
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

}  // namespace

bool LoadPlugin(const std::string& path) {
  if (const std::string problem = CheckSharedObject(path); !problem.empty()) {
    Skip(path, problem);
    return false;
  }
  // Local binding: two plug-ins may export functions of the same name.
  LibraryHandle library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
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
  LibraryHandle pinned(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
  if (pinned) library = std::move(pinned);
  // Whatever it registered stays in use, so the library stays loaded even
  // when its entry fails.
  LoadedLibraries().push_back(std::move(library));
  try {
    reinterpret_cast<REALPluginMainFn>(entry)(&plugin_host::ResolveHostFunction);
  } catch (...) {
    Skip(path, "REALPluginMain raised an exception");
    return false;
  }
  return true;
}

int LoadPlugins(const std::string& folder) {
  std::error_code error;
  std::vector<std::filesystem::path> candidates;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError) && LooksLikeSharedLibrary(it->path()))
      candidates.push_back(it->path());
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
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "plugins";
  return (executable.parent_path() / "plugins").string();
}

}  // namespace rb
