// Pictures from the application's resources, their masks, and drawing.
// Main thread.
#pragma once

#include <memory>

#include "rb/Object.h"

class QImage;

namespace rb {

class Graphics;

class Picture : public Object {
 public:
  Picture(int width, int height);
  explicit Picture(const QImage& image);
  ~Picture() override;
  std::string ClassName() const override { return "Picture"; }

  int Width() const;
  int Height() const;
  // The transparency mask, made on first use: white (opaque) everywhere;
  // black pixels drawn into it make the picture transparent there.
  Ref<Picture> Mask();
  Ref<Graphics> GetGraphics();
  // The picture with its mask applied (alpha from the mask).
  QImage Composited() const;
  const QImage& Image() const;
  QImage& Image();

 private:
  std::unique_ptr<QImage> image_;
  Ref<Picture> mask_;
};

class Graphics : public Object {
 public:
  explicit Graphics(Ref<Picture> target) : target_(std::move(target)) {}
  std::string ClassName() const override { return "Graphics"; }
  // Draws source at (x, y) scaled to destW x destH from its part (srcX,
  // srcY, srcW, srcH); -10000 for a width or height means the source's own.
  void DrawPicture(const Ref<Picture>& source, int x, int y, int destW = -10000, int destH = -10000,
                   int srcX = 0, int srcY = 0, int srcW = -10000, int srcH = -10000);

 private:
  Ref<Picture> target_;
};

// The application's resources: pictures by number (Qt resources under
// ":/pictures/<number>.png").
class ResourceFork : public Object {
 public:
  std::string ClassName() const override { return "ResourceFork"; }
  // Nil when the application has no picture of that number.
  Ref<Picture> GetPicture(int number) const;
  // Reads so far (tests count resource loads with it).
  static int PictureReadCount();
};

Ref<ResourceFork> appResourceForkGetter();

}  // namespace rb
