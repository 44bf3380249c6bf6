// The project's file-type set: one entry, Text. Nothing reads it; it is made
// at start-up and released at exit. UI thread.
#pragma once

#include "rb/Object.h"
#include "rb/String.h"

class FileType : public rb::Object {
 public:
  std::string ClassName() const override { return "FileType"; }
  rb::String Name;
  rb::String Extensions;
  rb::String MacType;
};

class FileTypesSet : public rb::Object {
 public:
  std::string ClassName() const override { return "FileTypes"; }
  rb::Ref<FileType> Text;
};

// The one set (nil before start-up and after exit).
rb::Ref<FileTypesSet>& FileTypes();
