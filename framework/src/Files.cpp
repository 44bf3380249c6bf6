#include "rb/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string_view>
#include <system_error>

#include "FileDescriptor.h"
#include "chimewick/Log.h"
#include "rb/Text.h"

namespace rb {

namespace {

using chimewick::frameworkLog;

// A text file larger than this is not read into memory: ReadAll gives "" and
// says why on standard error. Far above any file the program reads.
constexpr std::uintmax_t kMaxReadBytes = 256u * 1024u * 1024u;

// The test seam of TextOutputStream: a byte budget shared by all streams.
std::atomic<long> gFailWritesAfter{-1};
std::atomic<long> gBytesWrittenSinceSeam{0};

// Temporary files are named after the file they replace: "name.XXXXXX".
constexpr size_t kTemporarySuffixLength = 6;

std::string ErrorText(int error) { return std::generic_category().message(error); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "something else";
}

// The file a save replaces: the path itself, or the regular file that a
// link there leads to (the link stays).
struct SaveTarget {
  std::string path;
  bool exists = false;
  struct stat info {};
};

struct FreeDeleter {
  void operator()(char* p) const noexcept { std::free(p); }
};

// Only a regular file that may be written is ever replaced; anything else
// stays as it is and the reason goes to standard error.
std::optional<SaveTarget> FindSaveTarget(const std::string& path) {
  SaveTarget target{path, false, {}};
  if (::lstat(path.c_str(), &target.info) != 0) {
    if (errno == ENOENT) return target;
    const int error = errno;
    frameworkLog.line("cannot write %s: %s", path.c_str(), ErrorText(error).c_str());
    return std::nullopt;
  }
  if (S_ISLNK(target.info.st_mode)) {
    const std::unique_ptr<char, FreeDeleter> resolved(::realpath(path.c_str(), nullptr));
    if (!resolved || ::stat(resolved.get(), &target.info) != 0) {
      frameworkLog.line("not writing %s: it is a link that leads to no file; the link is left as it is",
                        path.c_str());
      return std::nullopt;
    }
    target.path = resolved.get();
  }
  if (!S_ISREG(target.info.st_mode)) {
    if (target.path != path)
      frameworkLog.line(
          "not writing %s: it links to %s, which is %s, not a regular file; both are left as "
          "they are",
          path.c_str(), target.path.c_str(), KindOf(target.info.st_mode));
    else
      frameworkLog.line("not writing %s: it is %s, not a regular file; it is left as it is", path.c_str(),
                        KindOf(target.info.st_mode));
    return std::nullopt;
  }
  // A file made read-only keeps its text, although the folder would take a
  // new file in its place.
  if (::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES) {
    frameworkLog.line("not writing %s: it is read-only; it is left as it is", target.path.c_str());
    return std::nullopt;
  }
  target.exists = true;
  return target;
}

// A temporary file's suffix has an upper-case letter, a lower-case letter
// and a digit, so that a name a person gives a copy ("backup", "Copy") is
// never taken for one.
bool LooksLikeTemporarySuffix(std::string_view suffix) {
  if (suffix.size() != kTemporarySuffixLength) return false;
  bool upper = false, lower = false, digit = false;
  for (const char c : suffix) {
    if (c >= 'A' && c <= 'Z')
      upper = true;
    else if (c >= 'a' && c <= 'z')
      lower = true;
    else if (c >= '0' && c <= '9')
      digit = true;
    else
      return false;
  }
  return upper && lower && digit;
}

std::string TemporarySuffix(std::mt19937& random) {
  static constexpr char kCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix(kTemporarySuffixLength, 'A');
  do {
    for (char& c : suffix) c = kCharacters[random() % (sizeof kCharacters - 1)];
  } while (!LooksLikeTemporarySuffix(suffix));
  return suffix;
}

// Removes the temporary files that a writer killed while saving left
// beside the file. A live writer holds a lock on its temporary file, so only
// abandoned ones (regular files of this user, unlocked) go.
void RemoveStaleTemporaries(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::string prefix = NameOf(target) + ".";
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), &::closedir);
  if (!listing) return;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix) || !LooksLikeTemporarySuffix(name.substr(prefix.size()))) continue;
    const FileDescriptor file(
        ::openat(::dirfd(listing.get()), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
      continue;
    if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) ::unlinkat(::dirfd(listing.get()), entry->d_name, 0);
  }
}

// Makes a new temporary file beside target, locked while this writer lives.
FileDescriptor MakeTemporaryFile(const SaveTarget& target, std::string& name) {
  std::random_device seed;
  std::mt19937 random(seed());
  FileDescriptor file;
  for (int attempt = 0; attempt < 100 && !file; ++attempt) {
    name = target.path + "." + TemporarySuffix(random);
    file.reset(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file && errno != EEXIST) break;
  }
  if (!file) return file;
  ::flock(file.get(), LOCK_EX | LOCK_NB);
  if (target.exists) ::fchmod(file.get(), target.info.st_mode & 07777);
  return file;
}

// Reads the whole file from offset 0; nothing when it cannot be read.
std::optional<std::string> ReadWhole(int fd) {
  std::string bytes;
  char chunk[64 * 1024];
  for (;;) {
    const ssize_t got = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(bytes.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || bytes.size() + size_t(got) > kMaxReadBytes) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(chunk, size_t(got));
  }
}

// Writes all bytes at offset; false with errno set when that fails.
bool WriteWholeAt(int fd, const std::string& bytes, off_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + off_t(done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    if (put == 0) {
      errno = ENOSPC;
      return false;
    }
    done += size_t(put);
  }
  return true;
}

// Puts bytes in place of the whole contents of the open file.
bool Overwrite(int fd, const std::string& bytes) {
  return WriteWholeAt(fd, bytes, 0) && ::ftruncate(fd, off_t(bytes.size())) == 0 && ::fsync(fd) == 0;
}

// Makes a rename in the folder last through a crash. Failure changes nothing
// the caller could act on.
void SyncFolder(const std::string& folder) {
  const FileDescriptor handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (handle) ::fsync(handle.get());
}

}  // namespace

struct TextOutputStream::Impl {
  std::string target;     // the regular file replaced
  std::string temporary;  // the new text's file beside it; empty when written in place
  FileDescriptor file;
  std::string text;                    // every line written, put on disk by Close
  std::optional<std::string> oldText;  // in place: what the file held, put back if the write fails
  int writeError = 0;                  // the first failed write
  bool closed = false;
  bool committed = false;

  // Opens target for writing where it stands: its folder refuses a new file.
  bool OpenInPlace(const SaveTarget& where) {
    file.reset(::open(where.path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const bool readable = bool(file);
    if (!file) file.reset(::open(where.path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0) return false;
    if (!S_ISREG(info.st_mode) || info.st_dev != where.info.st_dev || info.st_ino != where.info.st_ino) {
      errno = EBUSY;  // it changed under us
      return false;
    }
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    if (readable) oldText = ReadWhole(file.get());
    return true;
  }

  bool CommitReplacing() {
    if (!WriteWholeAt(file.get(), text, 0) || ::fsync(file.get()) != 0 ||
        ::rename(temporary.c_str(), target.c_str()) != 0) {
      const int error = errno;
      ::unlink(temporary.c_str());
      file.reset();
      frameworkLog.line("could not write %s: %s; the old file is kept", target.c_str(),
                        ErrorText(error).c_str());
      return false;
    }
    file.close();  // the text is on disk already: fsync said so
    SyncFolder(FolderOf(target));
    return true;
  }

  bool CommitInPlace() {
    if (Overwrite(file.get(), text) && file.close()) return true;
    const int error = errno;
    if (oldText && file && Overwrite(file.get(), *oldText))
      frameworkLog.line("could not write %s in place: %s; its old contents were put back", target.c_str(),
                        ErrorText(error).c_str());
    else
      frameworkLog.line("could not write %s in place: %s; its old contents may be lost", target.c_str(),
                        ErrorText(error).c_str());
    file.reset();
    return false;
  }

  void Discard() noexcept {
    if (!temporary.empty()) ::unlink(temporary.c_str());
    file.reset();
  }
};

bool FolderItem::Exists() const {
  std::error_code ec;
  return std::filesystem::exists(path_, ec);
}

Ref<FolderItem> FolderItem::Child(const String& name) const {
  const bool needsSeparator = !path_.empty() && path_.back() != '/';
  return New<FolderItem>(path_ + (needsSeparator ? "/" : "") + name.Bytes());
}

Ref<TextOutputStream> FolderItem::CreateTextFile() const {
  if (path_.empty()) return nullptr;
  const std::optional<SaveTarget> target = FindSaveTarget(path_);
  if (!target) return nullptr;
  auto impl = std::make_unique<TextOutputStream::Impl>();
  impl->target = target->path;
  RemoveStaleTemporaries(target->path);
  impl->file = MakeTemporaryFile(*target, impl->temporary);
  if (!impl->file) {
    const int error = errno;
    impl->temporary.clear();
    // Without a new file beside it the old one can still take the text:
    // a folder that is closed to new files but holds a writable file.
    const bool refused = error == EACCES || error == EPERM || error == EROFS;
    if (!refused || !target->exists) {
      frameworkLog.line("cannot write %s: %s", target->path.c_str(), ErrorText(error).c_str());
      return nullptr;
    }
    if (!impl->OpenInPlace(*target)) {
      const int openError = errno;
      frameworkLog.line("cannot write %s: %s", target->path.c_str(), ErrorText(openError).c_str());
      return nullptr;
    }
    frameworkLog.line("the folder of %s does not allow a temporary file (%s): the file is written in place",
                      target->path.c_str(), ErrorText(error).c_str());
  }
  return Ref<TextOutputStream>(new TextOutputStream(std::move(impl)));
}

Ref<TextInputStream> FolderItem::OpenAsTextFile() const {
  // Only regular files: a folder cannot be read and a FIFO or device could
  // block or never end.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path_, ec)) return nullptr;
  std::ifstream probe(path_, std::ios::binary);
  if (!probe) return nullptr;
  return Ref<TextInputStream>(new TextInputStream(path_));
}

Ref<FolderItem> PreferencesFolder() {
  const QString location = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (location.isEmpty()) return nullptr;
  QDir().mkpath(location);
  if (!QFileInfo(location).isDir()) return nullptr;
  return New<FolderItem>(QFile::encodeName(location).toStdString());
}

TextOutputStream::TextOutputStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

// An unclosed stream is unfinished: its temporary file goes, the old file
// stays as it was.
TextOutputStream::~TextOutputStream() {
  if (impl_ && !impl_->closed) impl_->Discard();
}

void TextOutputStream::WriteLine(const String& text) {
  if (impl_->closed || impl_->writeError != 0) return;
  const std::string line = text.Bytes() + EndOfLine().Bytes();
  long allowed = long(line.size());
  const long budget = gFailWritesAfter.load();
  if (budget >= 0) {
    const long before = gBytesWrittenSinceSeam.fetch_add(long(line.size()));
    allowed = std::clamp(budget - before, 0L, long(line.size()));
  }
  impl_->text.append(line, 0, size_t(allowed));
  if (allowed < long(line.size())) impl_->writeError = ENOSPC;
}

bool TextOutputStream::Close() {
  if (impl_->closed) return impl_->committed;
  impl_->closed = true;
  if (impl_->writeError != 0) {
    frameworkLog.line("could not write %s: %s; the old file is kept", impl_->target.c_str(),
                      ErrorText(impl_->writeError).c_str());
    impl_->Discard();
    return false;
  }
  impl_->committed = impl_->temporary.empty() ? impl_->CommitInPlace() : impl_->CommitReplacing();
  return impl_->committed;
}

void TextOutputStream::FailWritesAfterForTesting(long bytes) {
  gBytesWrittenSinceSeam.store(0);
  gFailWritesAfter.store(bytes < 0 ? -1 : bytes);
}

// A stream holds no position of its own: ReadAll takes the whole file, after
// which nothing is left to read.
String TextInputStream::ReadAll() {
  if (closed_) return {};
  closed_ = true;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path_, ec);
  if (ec) return {};
  if (size > kMaxReadBytes) {
    chimewick::frameworkLog.line("not reading %s: %ju bytes is too large for a text file", path_.c_str(),
                                 size);
    return {};
  }
  std::ifstream in(path_, std::ios::binary);
  if (!in) return {};
  std::string bytes;
  bytes.reserve(size_t(size));
  char chunk[64 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    if (bytes.size() + size_t(in.gcount()) > kMaxReadBytes) {
      chimewick::frameworkLog.line("not reading %s: it grew too large while being read", path_.c_str());
      return {};
    }
    bytes.append(chunk, size_t(in.gcount()));
  }
  return String(std::move(bytes));
}

void TextInputStream::Close() { closed_ = true; }

}  // namespace rb
