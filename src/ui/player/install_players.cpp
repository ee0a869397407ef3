#include "ui/player/install_players.h"

#include <memory>

#include "ui/main_window.h"
#include "ui/player/scratch_pad.h"
#include "ui/player/simple_preview.h"
#include "ui/select_files/select_files_dialog.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {

void InstallPlayers(MainWindow& window, PlayerWiring wiring) {
  const auto services = [sound = wiring.sound] { return playback::DefaultPlayerServices(sound); };
  UserDialogs& dialogs = *wiring.dialogs;
  window.openScratchPad = [services, &dialogs](MainWindow& w, int row) {
    const SourceEntry& entry = w.entries()[static_cast<std::size_t>(row)];
    ScratchPad pad(entry, services(), dialogs, &w.help(), w.preferences().toolTip, &w);
    if (pad.exec() == QDialog::Accepted) w.SetSections(row, pad.StoredSections());
  };
  window.openSimplePreview = [services, &dialogs](MainWindow& w, int row) -> QWidget* {
    auto* preview =
        new SimplePreview(QString::fromStdString(w.entries()[static_cast<std::size_t>(row)].path),
                          services(), dialogs, &w);
    CentreOnDesktop(preview);
    preview->show();
    return preview;
  };
  // Auto Play, Mute and the folder are kept from one opening to the next.
  auto memory = std::make_shared<SelectFilesMemory>();
  window.selectFiles = [services, &dialogs, memory, info = wiring.showInformation](MainWindow& w) {
    SelectFilesServices s;
    s.player = services();
    s.dialogs = &dialogs;
    s.help = &w.help();
    s.showInformation = info;
    s.memory = memory.get();
    SelectFilesDialog dialog(std::move(s), &w);
    return dialog.exec() == QDialog::Accepted ? dialog.SelectedPaths() : QStringList();
  };
}

}  // namespace calvex::ui
