// A main window over temporary configuration and data directories, scripted dialogs, readers of
// made-up files and drivers that report progress.
#pragma once

#include <gtest/gtest.h>

#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>

#include "core/data_directory.h"
#include "support/test_support.h"
#include "ui/main_window.h"
#include "ui_doubles.h"

namespace calvex::testing {

// Runs `act` on the next modal dialog once it is up: a modal dialog's exec() holds the test until
// the dialog closes, so what the user does in it is queued before.
inline void OnNextModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      act(modal);
    }
  });
  timer->start();
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
    CreateDataDirectory();
    std::filesystem::create_directories(dir.File("config"));
  }

  // The window, built on first use so that a test can change the services first.
  ui::MainWindow& window() {
    if (!window_) {
      ui::MainWindowServices s;
      s.drivers = drivers;
      s.readers = readers;
      s.dialogs = &dialogs;
      s.preferencesPath = IniPath();
      s.savedListPath = DataDirectory() + "vxmpeg1.dat";
      s.clock = clock;
      window_ = std::make_unique<ui::MainWindow>(std::move(s));
      window_->show();
    }
    return *window_;
  }

  std::string IniPath() const { return dir.File("config") + "/vorla.ini"; }

  // Creates a source file named `name` in the test directory and returns its path.
  QString Source(const std::string& name) {
    const std::string path = dir.File(name);
    std::ofstream(path) << "source";
    return QString::fromStdString(path);
  }

  // Adds files as a selection, the way the chooser and drops do.
  void Add(const QStringList& paths) {
    window().AddFiles(paths, true);
    window().RefreshPages();
  }

  QStringList ListLines() {
    QStringList lines;
    for (int i = 0; i < window().fileList->count(); ++i)
      lines << window().fileList->item(i)->text();
    return lines;
  }

  // Presses Convert and waits for the run's end. False when no run started or it did not end.
  bool ConvertAndWait(int timeoutMs = 10000) {
    QSignalSpy ended(&window(), &ui::MainWindow::runEnded);
    window().ConvertCommand();
    if (!window().runInProgress()) return false;
    return ended.wait(timeoutMs);
  }

  void DestroyWindow() { window_.reset(); }

  TempDir dir;
  ScriptedDialogs dialogs;
  DriverSet drivers = ReportingDrivers();
  InfoReaders readers = NamedInfoReaders();
  LocalClock clock;

 private:
  std::unique_ptr<ui::MainWindow> window_;
};

}  // namespace calvex::testing
