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
  // Makes a new, empty text file in place of this one. The file is replaced
  // atomically: lines go to a temporary file beside it, which Close renames
  // over the old file; a failed or unfinished write leaves the old file
  // whole. Nil when the file cannot be made.
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
  // Writes the text and the line end (EndOfLine).
  void WriteLine(const String& text);
  // Finishes the file: renames it over the old one when every write
  // succeeded, else drops it. Returns whether the new file is in place.
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
