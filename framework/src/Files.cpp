#include "rb/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "chimewick/Log.h"
#include "rb/Text.h"

namespace rb {

namespace {

// A text file larger than this is not read into memory: ReadAll gives "" and
// says why on standard error. Far above any file the program reads.
constexpr std::uintmax_t kMaxReadBytes = 256u * 1024u * 1024u;

// The test seam of TextOutputStream: a byte budget shared by all streams.
std::atomic<long> gFailWritesAfter{-1};
std::atomic<long> gBytesWrittenSinceSeam{0};

QString ToQtPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace

struct TextOutputStream::Impl {
  explicit Impl(const QString& path) : file(path) {}
  QSaveFile file;
  bool failed = false;
  bool closed = false;
  bool committed = false;
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
  std::error_code ec;
  if (std::filesystem::is_directory(path_, ec)) return nullptr;
  auto impl = std::make_unique<TextOutputStream::Impl>(ToQtPath(path_));
  // Never fall back to writing the old file in place: that would lose the
  // old file when the write fails.
  impl->file.setDirectWriteFallback(false);
  if (!impl->file.open(QIODevice::WriteOnly)) return nullptr;
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
  if (impl_ && !impl_->closed) impl_->file.cancelWriting();
}

void TextOutputStream::WriteLine(const String& text) {
  if (impl_->closed || impl_->failed) return;
  const std::string line = text.Bytes() + EndOfLine().Bytes();
  long allowed = long(line.size());
  const long budget = gFailWritesAfter.load();
  if (budget >= 0) {
    const long before = gBytesWrittenSinceSeam.fetch_add(long(line.size()));
    allowed = std::clamp(budget - before, 0L, long(line.size()));
  }
  if (allowed > 0 && impl_->file.write(line.data(), allowed) != allowed) impl_->failed = true;
  if (allowed < long(line.size())) impl_->failed = true;
}

bool TextOutputStream::Close() {
  if (impl_->closed) return impl_->committed;
  impl_->closed = true;
  if (impl_->failed) {
    impl_->file.cancelWriting();
    impl_->file.commit();  // after cancelWriting this only removes the temporary file
    return false;
  }
  impl_->committed = impl_->file.commit();
  if (!impl_->committed)
    chimewick::frameworkLog.line("could not save %s: %s", impl_->file.fileName().toUtf8().constData(),
                                 impl_->file.errorString().toUtf8().constData());
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
