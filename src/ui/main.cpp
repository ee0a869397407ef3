// calvex-gui: the desktop program.
#include <QApplication>
#include <QDir>

#include "core/data_directory.h"
#include "core/error_report.h"
#include "engine/default_drivers.h"
#include "ui/app_paths.h"
#include "ui/command_line_help.h"
#include "ui/main_window.h"
#include "ui/playback/qt_sound_output.h"
#include "ui/player/install_players.h"
#include "ui/program_icon.h"
#include "ui/single_instance.h"
#include "ui/user_dialogs.h"

int main(int argc, char* argv[]) {
  if (const auto status = calvex::ui::AnswerHelpOrVersion(argc, argv)) return *status;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("calvex-gui"));
  // Every window shows the program's icon; the desktop entry names it for the window manager.
  QApplication::setWindowIcon(calvex::ui::ProgramIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("calvex"));
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();

  calvex::ui::DesktopDialogs dialogs;
  calvex::ui::SingleInstance instance(calvex::ui::SingleInstance::DefaultKey());
  if (instance.HandOver(arguments, QDir::currentPath(), 500)) {
    dialogs.ExclamationSound();
    return 0;
  }

  calvex::CreateDataDirectory();
  calvex::ui::MainWindowServices services;
  services.drivers = calvex::DefaultDrivers();
  services.readers = calvex::DefaultInfoReaders();
  services.dialogs = &dialogs;
  services.preferencesPath = calvex::ui::PreferencesPath();
  services.savedListPath = calvex::ui::SavedListPath();

  // The sound thread outlives every player of the window.
  calvex::ui::playback::SoundDevices sound;
  calvex::ui::MainWindow window(std::move(services));
  calvex::ui::PlayerWiring players;
  players.dialogs = &dialogs;
  players.sound = sound.Factory();
  calvex::ui::InstallPlayers(window, std::move(players));
  instance.Listen();
  QObject::connect(&instance, &calvex::ui::SingleInstance::commandLineReceived, &window,
                   [&window](const QStringList& args, const QString& directory) {
                     window.showNormal();
                     window.raise();
                     window.activateWindow();
                     if (!args.isEmpty()) window.AddCommandLine(args, directory);
                   });
  window.show();
  window.StartUp(arguments, QDir::currentPath());
  return QApplication::exec();
}
