#include "viewer/shell/video_area.h"

#include <QMetaObject>
#include <QPainter>

VideoAreaWidget::VideoAreaWidget(QPixmap idlePicture, QWidget* parent)
    : QWidget(parent), idlePicture_(std::move(idlePicture)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void VideoAreaWidget::PresentFrame(const VideoFrame& frame) {
  if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4)
    return;
  // The buffer belongs to the stream: copy it before returning.
  QImage copy =
      QImage(frame.pixels, frame.width, frame.height, frame.stride, QImage::Format_RGB32).copy();
  bool schedule = false;
  {
    std::lock_guard guard(frameLock_);
    frame_ = std::move(copy);
    ++framesPresented_;
    schedule = !repaintPending_;
    repaintPending_ = true;
  }
  // One pending repaint at a time, so a fast stream cannot flood the queue.
  if (schedule) {
    QMetaObject::invokeMethod(
        this,
        [this] {
          {
            std::lock_guard guard(frameLock_);
            repaintPending_ = false;
          }
          update();
        },
        Qt::QueuedConnection);
  }
}

void VideoAreaWidget::PlaceVideo(long left, long top, long width, long height) {
  videoRect_ = QRect(int(left), int(top), int(width), int(height));
  update();
}

void VideoAreaWidget::ShowVideo(bool visible) {
  videoVisible_ = visible;
  update();
}

void VideoAreaWidget::PostNotify(long message, LONG_PTR instance) {
  QMetaObject::invokeMethod(
      this,
      [this, message, instance] {
        if (notifyHandler_) notifyHandler_(message, instance);
      },
      Qt::QueuedConnection);
}

ClientRect VideoAreaWidget::GetClientRect() const { return {width(), height()}; }

QImage VideoAreaWidget::CurrentFrame() const {
  std::lock_guard guard(frameLock_);
  return frame_;
}

long VideoAreaWidget::FramesPresented() const {
  std::lock_guard guard(frameLock_);
  return framesPresented_;
}

void VideoAreaWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QImage frame = videoVisible_ ? CurrentFrame() : QImage();
  if (frame.isNull()) {
    if (idlePicture_.isNull())
      painter.fillRect(rect(), Qt::black);
    else
      painter.drawPixmap(rect(), idlePicture_);
    return;
  }
  painter.fillRect(rect(), Qt::black);
  const QRect target = videoRect_.isValid() ? videoRect_ : rect();
  QSize scaled = frame.size().scaled(target.size(), Qt::KeepAspectRatio);
  const QRect placed(target.x() + (target.width() - scaled.width()) / 2,
                     target.y() + (target.height() - scaled.height()) / 2, scaled.width(),
                     scaled.height());
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(placed, frame);
}
