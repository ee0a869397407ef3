// Plugs the players into the main window: the Scratch Pad of "S&cratch...", the simple preview of
// a double click, and the Select Files dialog of "S&elect...".
#pragma once

#include <QString>
#include <functional>

#include "ui/playback/sound_output.h"

class QWidget;

namespace calvex::ui {

class MainWindow;
class UserDialogs;

struct PlayerWiring {
  UserDialogs* dialogs = nullptr;
  playback::SoundOutputFactory sound;  // none: the players are silent
  // "&Info..." of the Select Files dialog: reads a file's information and shows its dialog.
  std::function<void(QWidget* parent, const QString& path)> showInformation;
};

void InstallPlayers(MainWindow& window, PlayerWiring wiring);

}  // namespace calvex::ui
