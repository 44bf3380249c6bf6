// Pictures, their masks, drawing, and pictures from the application's
// resources.
#include "rb/Picture.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <atomic>

namespace rb {
namespace {

constexpr int kOwnSize = -10000;
std::atomic<int> pictureReads{0};

}  // namespace

Picture::Picture(int width, int height)
    : image_(std::make_unique<QImage>(std::max(1, width), std::max(1, height), QImage::Format_ARGB32)) {
  image_->fill(Qt::white);
}

Picture::Picture(const QImage& image)
    : image_(std::make_unique<QImage>(image.convertToFormat(QImage::Format_ARGB32))) {}

Picture::~Picture() = default;

int Picture::Width() const { return image_->width(); }
int Picture::Height() const { return image_->height(); }

Ref<Picture> Picture::Mask() {
  if (!mask_) mask_ = New<Picture>(Width(), Height());  // all white: opaque
  return mask_;
}

Ref<Graphics> Picture::GetGraphics() { return New<Graphics>(Ref<Picture>(this)); }

QImage Picture::Composited() const {
  QImage result = image_->convertToFormat(QImage::Format_ARGB32);
  if (!mask_) return result;
  const QImage& mask = mask_->Image();
  for (int y = 0; y < result.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(result.scanLine(y));
    const auto* maskRow = y < mask.height() ? reinterpret_cast<const QRgb*>(mask.constScanLine(y)) : nullptr;
    for (int x = 0; x < result.width(); ++x) {
      // Black in the mask is transparent, white opaque, greys between.
      const int alpha = maskRow != nullptr && x < mask.width() ? qGray(maskRow[x]) : 255;
      row[x] = qRgba(qRed(row[x]), qGreen(row[x]), qBlue(row[x]), alpha * qAlpha(row[x]) / 255);
    }
  }
  return result;
}

const QImage& Picture::Image() const { return *image_; }
QImage& Picture::Image() { return *image_; }

void Graphics::DrawPicture(const Ref<Picture>& source, int x, int y, int destW, int destH, int srcX, int srcY,
                           int srcW, int srcH) {
  if (!source || !target_) return;
  if (srcW == kOwnSize) srcW = source->Width();
  if (srcH == kOwnSize) srcH = source->Height();
  if (destW == kOwnSize) destW = srcW;
  if (destH == kOwnSize) destH = srcH;
  if (srcW <= 0 || srcH <= 0 || destW <= 0 || destH <= 0) return;
  const QImage drawn = source->Composited();
  QPainter painter(&target_->Image());
  painter.drawImage(QRect(x, y, destW, destH), drawn, QRect(srcX, srcY, srcW, srcH));
}

Ref<Picture> ResourceFork::GetPicture(int number) const {
  ++pictureReads;
  QImage image;
  if (!image.load(QStringLiteral(":/pictures/%1.png").arg(number))) return nullptr;
  return New<Picture>(image);
}

int ResourceFork::PictureReadCount() { return pictureReads.load(); }

Ref<ResourceFork> appResourceForkGetter() { return New<ResourceFork>(); }

}  // namespace rb
