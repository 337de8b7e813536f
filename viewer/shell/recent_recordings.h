#pragma once

#include <QStringList>

// The recordings opened last, newest first, each once.
class RecentRecordings {
 public:
  static constexpr int kMaxCount = 8;

  // Takes a stored list as it is found: blanks and repeats are dropped and
  // only the newest kMaxCount are kept.
  explicit RecentRecordings(const QStringList& stored = {});

  // `path` becomes the newest; the same file opened before moves up rather
  // than showing twice.
  void Add(const QString& path);
  void Remove(const QString& path);
  const QStringList& Paths() const { return paths_; }

 private:
  QStringList paths_;
};
