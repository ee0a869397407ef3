// The desktop program as calvex-gui runs it: a second start hands its command line to the first;
// the first builds the main window over the real drivers, readers, dialogs and players, shows it
// and adds the files of its command line.
#pragma once

#include <QStringList>
#include <memory>

#include "ui/main_window.h"
#include "ui/playback/qt_sound_output.h"
#include "ui/single_instance.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {

class DesktopProgram {
 public:
  DesktopProgram();
  ~DesktopProgram();

  // False when a running program took the command line (this one should end); otherwise the
  // main window is up and the program runs in the application's event loop.
  bool Start(const QStringList& arguments, const QString& workingDirectory);

  MainWindow& window() { return *window_; }

 private:
  DesktopDialogs dialogs_;
  SingleInstance instance_;
  playback::SoundDevices sound_;  // the sound thread outlives every player of the window
  std::unique_ptr<MainWindow> window_;
};

}  // namespace calvex::ui
