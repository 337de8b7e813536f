#include "viewer/shell/map_view.h"

#include <unistd.h>

#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QStackedLayout>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

bool HasRenderNode() {
  return !QDir(QStringLiteral("/dev/dri"))
              .entryList({QStringLiteral("renderD*")}, QDir::System)
              .isEmpty();
}

// Chromium reads these once, when the first page is made, so they are set
// before it.
void PrepareWebEngine() {
  static const bool prepared = [] {
    // Chromium refuses to start its sandbox as root, and then shows
    // nothing; the containers of continuous integration and many field
    // laptops run as root. What it shows is our own page from the loopback
    // server, so going without the sandbox there costs little.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
      qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Without a GPU (a headless machine, a virtual display) Chromium's GPU
    // process fails and the page stays blank; its software rendering draws
    // it. The user's own flags come first and are kept.
    if (!HasRenderNode()) {
      QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
      if (!flags.contains("--disable-gpu")) {
        if (!flags.isEmpty()) flags += ' ';
        flags += "--disable-gpu";
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
      }
    }
    return true;
  }();
  (void)prepared;
}

}  // namespace

MapView::MapView(QWidget* parent) : QWidget(parent) {
  PrepareWebEngine();
  stack_ = new QStackedLayout(this);
  stack_->setContentsMargins(0, 0, 0, 0);
  web_ = new QWebEngineView(this);
  // A right click on the map opens the main window's menu, as on the video.
  web_->setContextMenuPolicy(Qt::NoContextMenu);
  message_ = new QLabel(this);
  message_->setAlignment(Qt::AlignCenter);
  message_->setWordWrap(true);
  message_->setMargin(16);
  message_->setAutoFillBackground(true);
  stack_->addWidget(web_);
  stack_->addWidget(message_);
  connect(web_->page(), &QWebEnginePage::loadingChanged, this,
          [this](const QWebEngineLoadingInfo& info) { OnLoadingChanged(info); });
  connect(web_->page(), &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
            if (status == QWebEnginePage::NormalTerminationStatus) return;
            ShowMessage(QStringLiteral("The map stopped: its page's process ended (code %1). "
                                       "Switch to the video and back to load it again.")
                            .arg(code));
            url_.clear();
          });
}

MapView::~MapView() = default;

void MapView::SetUrl(const std::string& url) {
  if (url == url_) return;
  url_ = url;
  const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
  if (!parsed.isValid() || parsed.isRelative()) {
    ShowMessage(QStringLiteral("The map cannot be shown: its address \"%1\" is not a valid URL.")
                    .arg(QString::fromStdString(url)));
    return;
  }
  stack_->setCurrentWidget(web_);
  web_->load(parsed);
}

QWebEnginePage* MapView::Page() const { return web_->page(); }

QString MapView::Message() const {
  return stack_->currentWidget() == message_ ? message_->text() : QString();
}

void MapView::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
  switch (info.status()) {
    case QWebEngineLoadingInfo::LoadSucceededStatus:
      stack_->setCurrentWidget(web_);
      break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
      // The URL carries the map's token: it is not shown.
      ShowMessage(QStringLiteral("The map cannot be shown: its page did not load (%1).\n"
                                 "The viewer's map server may have stopped.")
                      .arg(info.errorString().isEmpty()
                               ? QStringLiteral("error %1").arg(info.errorCode())
                               : info.errorString()));
      break;
    case QWebEngineLoadingInfo::LoadStartedStatus:
    case QWebEngineLoadingInfo::LoadStoppedStatus:
      break;
  }
}

void MapView::ShowMessage(const QString& text) {
  message_->setText(text);
  stack_->setCurrentWidget(message_);
}

MapWindow::MapWindow(QWidget* owner, std::function<void()> closed)
    : QWidget(owner, Qt::Window), closed_(std::move(closed)) {
  setWindowTitle(QStringLiteral("VistaroPlayer Map"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  view_ = new MapView(this);
  layout->addWidget(view_);
  resize(720, 540);
}

void MapWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closed_) closed_();
}
