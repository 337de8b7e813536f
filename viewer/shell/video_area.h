#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <mutex>

#include "viewer/shell/shell_services.h"

// The main dialog's video area: shows its picture until video arrives, then
// the graph's frames scaled to fit. Frames come from a streaming thread and
// event notices from the graph's bus thread; both are handed over to the
// user-interface thread here, so nothing else needs to care.
class VideoAreaWidget final : public QWidget, public IVideoArea {
 public:
  explicit VideoAreaWidget(QPixmap idlePicture, QWidget* parent = nullptr);

  void PresentFrame(const VideoFrame& frame) override;
  void PlaceVideo(long left, long top, long width, long height) override;
  void ShowVideo(bool visible) override;
  void PostNotify(long message, LONG_PTR instance) override;
  ClientRect GetClientRect() const override;

  // Runs on the user-interface thread for every notice the graph posts.
  void SetNotifyHandler(std::function<void(long message, LONG_PTR instance)> handler) {
    notifyHandler_ = std::move(handler);
  }
  bool ShowingVideo() const { return videoVisible_; }
  // The newest frame shown, null before any.
  QImage CurrentFrame() const;
  long FramesPresented() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const QPixmap idlePicture_;
  std::function<void(long, LONG_PTR)> notifyHandler_;
  bool videoVisible_ = false;
  QRect videoRect_;

  mutable std::mutex frameLock_;
  QImage frame_;  // guarded by frameLock_
  long framesPresented_ = 0;
  bool repaintPending_ = false;
};
