// What the screenshot program's parts share: letting the windows settle, and writing a window's
// picture as it shows on the display.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <cstdio>

namespace calvex::testing {

inline void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

inline bool Shoot(QWidget* w, const QString& path) {
  Pump(300);
  const QRect g = w->frameGeometry();
  const QPixmap shot = w->screen()->grabWindow(0, g.x(), g.y(), g.width(), g.height());
  const bool ok = shot.save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

// The players, the Select Files dialog and the thumbnail browser, on media made in `work`.
void ShootPlayers(QWidget* mainWindow, const QString& out, const QString& work);

}  // namespace calvex::testing
