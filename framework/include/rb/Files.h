// Files: the preferences folder and text files.
// Any one thread at a time per object.
#pragma once

#include <string>

#include "rb/Object.h"
#include "rb/String.h"

namespace rb {

class TextOutputStream;
class TextInputStream;

class FolderItem : public Object {
 public:
  explicit FolderItem(std::string path) : path_(std::move(path)) {}
  std::string ClassName() const override { return "FolderItem"; }
  const std::string& Path() const noexcept { return path_; }
  bool Exists() const;
  // The item of that name inside this folder (it need not exist).
  Ref<FolderItem> Child(const String& name) const;
  // Makes a new, empty text file in place of this one. Only a regular file
  // is ever replaced: where a link stands, the regular file it leads to is
  // replaced and the link stays; a folder, device, pipe or a link to any of
  // them or to nothing, and a read-only file, is left as it is (the reason
  // on standard error). The lines go to a temporary file beside the file,
  // which Close renames over it, so a failed or unfinished write leaves the
  // old file whole; where
  // the folder refuses a temporary file but the file itself is writable,
  // Close writes the file in place (said on standard error). Temporary files
  // that a writer killed while saving left beside the file are removed. Nil
  // when the file cannot be made. The thread that uses the stream; does not
  // wait.
  Ref<TextOutputStream> CreateTextFile() const;
  // Nil when the file does not exist, is no regular file or cannot be opened.
  Ref<TextInputStream> OpenAsTextFile() const;

 private:
  std::string path_;
};

// The user's preferences folder: the XDG config folder (usually
// ~/.config), made if missing. Nil when it cannot be had.
Ref<FolderItem> PreferencesFolder();

class TextOutputStream : public Object {
 public:
  ~TextOutputStream() override;
  std::string ClassName() const override { return "TextOutputStream"; }
  // Adds the text and the line end (EndOfLine); the file gets them at Close.
  void WriteLine(const String& text);
  // Finishes the file: puts every line on disk and renames the temporary
  // file over the old one when every write succeeded, else drops it and
  // says why on standard error. Returns whether the new text is in place.
  // Waits for the disk (fsync).
  bool Close();

  // Test seam: the next writes fail once more than this many bytes have
  // been written by any stream (-1: never).
  static void FailWritesAfterForTesting(long bytes);

 private:
  friend class FolderItem;
  struct Impl;
  explicit TextOutputStream(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class TextInputStream : public Object {
 public:
  std::string ClassName() const override { return "TextInputStream"; }
  // The whole rest of the file as one text, bytes unchanged; "" once read,
  // and "" (with the reason on standard error) for a file over 256 MiB.
  String ReadAll();
  void Close();

 private:
  friend class FolderItem;
  explicit TextInputStream(std::string path) : path_(std::move(path)) {}
  std::string path_;
  bool closed_ = false;
};

}  // namespace rb
