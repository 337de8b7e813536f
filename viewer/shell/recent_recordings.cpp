#include "viewer/shell/recent_recordings.h"

#include <QFileInfo>

namespace {

// One spelling per file, so that "./a.mkv" and "/home/p/a.mkv" are one entry.
QString Canonical(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

}  // namespace

RecentRecordings::RecentRecordings(const QStringList& stored) {
  for (auto it = stored.crbegin(); it != stored.crend(); ++it) {
    if (!it->trimmed().isEmpty()) Add(*it);
  }
}

void RecentRecordings::Add(const QString& path) {
  const QString canonical = Canonical(path);
  paths_.removeAll(canonical);
  paths_.prepend(canonical);
  while (paths_.size() > kMaxCount) paths_.removeLast();
}

void RecentRecordings::Remove(const QString& path) { paths_.removeAll(Canonical(path)); }
