#include "ui/select_files/thumbnail_browser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/playback/task_thread.h"
#include "ui/select_files/first_picture.h"

namespace calvex::ui {
namespace {

QIcon Placeholder(const QPalette& palette) {
  QPixmap pixmap(ThumbnailBrowser::kThumbnailSize);
  pixmap.fill(palette.color(QPalette::Button));
  QPainter p(&pixmap);
  p.setPen(palette.color(QPalette::Mid));
  p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
  return QIcon(pixmap);
}

// A thumbnail centred on a frame of the full thumbnail size, so that the grid stays even.
QIcon Framed(const QImage& picture) {
  QPixmap pixmap(ThumbnailBrowser::kThumbnailSize);
  pixmap.fill(Qt::black);
  QPainter p(&pixmap);
  p.drawImage((pixmap.width() - picture.width()) / 2, (pixmap.height() - picture.height()) / 2,
              picture);
  return QIcon(pixmap);
}

}  // namespace

ThumbnailBrowser::ThumbnailBrowser(const QString& folder, QWidget* parent)
    : QDialog(parent), stop_(std::make_shared<std::atomic<bool>>(false)) {
  setWindowTitle(QStringLiteral("Browse: ") + QDir::toNativeSeparators(folder));
  grid = new QListWidget(this);
  grid->setViewMode(QListView::IconMode);
  grid->setIconSize(kThumbnailSize);
  grid->setGridSize(kThumbnailSize + QSize(24, 40));
  grid->setResizeMode(QListView::Adjust);
  grid->setMovement(QListView::Static);
  grid->setWordWrap(true);
  grid->setUniformItemSizes(true);
  grid->setMinimumSize(4 * (kThumbnailSize.width() + 24) + 30,
                       2 * (kThumbnailSize.height() + 40) + 10);

  const QStringList names =
      QDir(folder).entryList({QStringLiteral("*.avi"), QStringLiteral("*.mpg")},
                             QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
  const QIcon placeholder = Placeholder(palette());
  QStringList paths;
  for (const QString& name : names) {
    auto* item = new QListWidgetItem(placeholder, name, grid);
    paths << QDir(folder).filePath(name);
    item->setData(Qt::UserRole, paths.back());
    item->setToolTip(paths.back());
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  connect(grid, &QListWidget::currentRowChanged, this, [ok](int row) { ok->setEnabled(row >= 0); });
  connect(grid, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    chosen_ = item->data(Qt::UserRole).toString();
    accept();
  });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (QListWidgetItem* item = grid->currentItem()) {
      chosen_ = item->data(Qt::UserRole).toString();
      accept();
    }
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  if (names.isEmpty())
    layout->addWidget(new QLabel(QStringLiteral("This folder holds no AVI or MPEG files."), this));
  layout->addWidget(grid, 1);
  layout->addWidget(buttons);

  // One picture after the other, each handed to the window as soon as it is made.
  worker_ = std::make_unique<playback::TaskThread>();
  auto stop = stop_;
  for (int row = 0; row < paths.size(); ++row) {
    worker_->Post([this, stop, row, path = paths[row].toStdString()] {
      if (*stop) return;
      const QImage picture = FirstPicture(path, kThumbnailSize);
      if (*stop || picture.isNull()) return;
      QMetaObject::invokeMethod(
          this, [this, row, picture] { Placed(row, picture); }, Qt::QueuedConnection);
    });
  }
}

ThumbnailBrowser::~ThumbnailBrowser() {
  // The picture being made is the last; its result goes with this window.
  *stop_ = true;
  worker_.reset();
}

void ThumbnailBrowser::Placed(int row, const QImage& picture) {
  if (QListWidgetItem* item = grid->item(row)) item->setIcon(Framed(picture));
  ++ready_;
  emit thumbnailReady(row);
}

QString ThumbnailBrowser::Choose(const QString& folder, QWidget* parent) {
  ThumbnailBrowser browser(folder, parent);
  return browser.exec() == QDialog::Accepted ? browser.chosen() : QString();
}

}  // namespace calvex::ui
