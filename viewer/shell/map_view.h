#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class QStackedLayout;
class QWebEngineLoadingInfo;
class QWebEnginePage;
class QWebEngineView;

// Where the live map shows: in the video area's place, in a window of its
// own beside the main one, or not at all (the video shows). Remembered by
// its number.
enum class MapPlacement { kVideo = 0, kMap = 1, kSeparate = 2 };

// The live map's page in a Qt WebEngine view. A page that cannot be loaded
// leaves a plain message in its place, so that the pilot reads why rather
// than looking at an empty area.
class MapView final : public QWidget {
 public:
  explicit MapView(QWidget* parent = nullptr);
  ~MapView() override;

  // Loads `url`. The URL already shown is not loaded again, so that going
  // back and forth between the video and the map keeps the map as it was.
  void SetUrl(const std::string& url);
  const std::string& Url() const { return url_; }
  QWebEnginePage* Page() const;
  // What shows in the page's place; empty while the page shows.
  QString Message() const;

 private:
  void OnLoadingChanged(const QWebEngineLoadingInfo& info);
  void ShowMessage(const QString& text);

  std::string url_;
  QStackedLayout* stack_ = nullptr;  // owned by this widget, as are the two below
  QWebEngineView* web_ = nullptr;
  QLabel* message_ = nullptr;
};

// The map in a window of its own, for a second screen or for a live
// capture, whose narrow window leaves no room for the video area.
class MapWindow final : public QWidget {
 public:
  // `closed` runs when the user closes the window; the window is hidden,
  // not destroyed.
  MapWindow(QWidget* owner, std::function<void()> closed);

  MapView& View() { return *view_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  MapView* view_ = nullptr;  // owned by this window as a child
  std::function<void()> closed_;
};
