// The thumbnail browser: a grid of the first pictures of the AVI and MPEG files of a folder, with
// their names. The pictures are made on a worker thread and appear as they are ready; choosing one
// gives its path.
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <memory>

class QListWidget;

namespace calvex::ui {

namespace playback {
class TaskThread;
}

class ThumbnailBrowser : public QDialog {
  Q_OBJECT
 public:
  static constexpr QSize kThumbnailSize{120, 90};

  ThumbnailBrowser(const QString& folder, QWidget* parent = nullptr);
  ~ThumbnailBrowser() override;

  // Shows the browser over `folder`; the chosen file's path, or an empty text.
  static QString Choose(const QString& folder, QWidget* parent);

  QString chosen() const { return chosen_; }
  // Pictures made so far.
  int thumbnailsReady() const { return ready_; }

  QListWidget* grid = nullptr;

 signals:
  void thumbnailReady(int row);

 private:
  void Placed(int row, const QImage& picture);

  QString chosen_;
  int ready_ = 0;
  std::shared_ptr<std::atomic<bool>> stop_;
  std::unique_ptr<playback::TaskThread> worker_;
};

}  // namespace calvex::ui
