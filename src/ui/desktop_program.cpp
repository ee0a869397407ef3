#include "ui/desktop_program.h"

#include "core/data_directory.h"
#include "engine/default_drivers.h"
#include "ui/app_paths.h"
#include "ui/info/information_dialog.h"
#include "ui/player/install_players.h"

namespace calvex::ui {

DesktopProgram::DesktopProgram() : instance_(SingleInstance::DefaultKey()) {}

DesktopProgram::~DesktopProgram() = default;

bool DesktopProgram::Start(const QStringList& arguments, const QString& workingDirectory) {
  if (instance_.HandOver(arguments, workingDirectory, 500)) {
    dialogs_.ExclamationSound();
    return false;
  }
  CreateDataDirectory();
  MainWindowServices services;
  services.drivers = DefaultDrivers();
  services.readers = DefaultInfoReaders();
  services.dialogs = &dialogs_;
  services.preferencesPath = PreferencesPath();
  services.savedListPath = SavedListPath();

  const InfoReaders readers = services.readers;
  window_ = std::make_unique<MainWindow>(std::move(services));
  dialogs_.help = &window_->help();
  PlayerWiring players;
  players.dialogs = &dialogs_;
  players.sound = sound_.Factory();
  players.showInformation = [this, readers](QWidget* parent, const QString& path) {
    ShowFileInformation(parent, path.toStdString(), readers, &window_->help(), dialogs_);
  };
  InstallPlayers(*window_, std::move(players));
  instance_.Listen();
  QObject::connect(&instance_, &SingleInstance::commandLineReceived, window_.get(),
                   [this](const QStringList& args, const QString& directory) {
                     window_->showNormal();
                     window_->raise();
                     window_->activateWindow();
                     if (!args.isEmpty()) window_->AddCommandLine(args, directory);
                   });
  window_->show();
  window_->StartUp(arguments, workingDirectory);
  return true;
}

}  // namespace calvex::ui
