// Screenshots of the players: the Scratch Pad paused on a picture with two sections marked and one
// highlighted, the simple preview, the Select Files dialog with a preview, and the thumbnail
// browser, on small movies made by ffmpeg.
#include <QDir>
#include <QLineEdit>

#include "riff_chunks.h"
#include "screenshot_support.h"
#include "support/media_tools.h"
#include "support/test_support.h"
#include "ui/help.h"
#include "ui/player/scratch_pad.h"
#include "ui/player/simple_preview.h"
#include "ui/select_files/select_files_dialog.h"
#include "ui/select_files/thumbnail_browser.h"
#include "ui_doubles.h"

namespace calvex::testing {
namespace {

// Lets the windows work until `done` holds (5 s at most).
template <typename Done>
void PumpUntil(Done done) {
  for (int i = 0; i < 100 && !done(); ++i) Pump(50);
}

}  // namespace

void ShootPlayers(QWidget* mainWindow, const QString& out, const QString& work) {
  const QString media = work + QStringLiteral("/Media");
  QDir().mkpath(media);
  const auto path = [&](const char* name) { return (media + "/" + name).toStdString(); };
  const std::string tone = " -f lavfi -i sine=frequency=330:duration=6 -c:a pcm_s16le ";
  if (!Ffmpeg("-f lavfi -i testsrc2=s=320x240:r=25:d=6" + tone + "-c:v mjpeg -q:v 3 " +
              ShellQuote(path("Holiday.avi"))) ||
      !Ffmpeg("-f lavfi -i smptehdbars=s=352x240:r=25:d=4 -c:v mjpeg -q:v 3 " +
              ShellQuote(path("Bars.avi"))) ||
      !Ffmpeg("-f lavfi -i mandelbrot=s=352x240:r=25 -t 4 -c:v mpeg1video -q:v 4 -f mpeg " +
              ShellQuote(path("Fractal.mpg"))) ||
      !Ffmpeg("-f lavfi -i rgbtestsrc=s=320x240:r=25:d=4 -c:v mpeg1video -f mpeg1video " +
              ShellQuote(path("Colours.mpg")))) {
    std::printf("FAILED to make the movies of the players' screenshots\n");
    return;
  }
  AddAviTexts(path("Holiday.avi"), "Summer holiday", "The beach at Ouddorp, August 1995");
  ScriptedDialogs dialogs;
  ui::HelpSystem help;

  SourceEntry entry;
  entry.path = path("Holiday.avi");
  entry.kind = ConversionKind::kAviToMpeg;
  entry.sections = {{20, 45, {}}, {80, 120, {}}};
  {
    ui::ScratchPad pad(entry, ui::playback::DefaultPlayerServices({}), dialogs, &help, true,
                       mainWindow);
    pad.show();
    pad.move(60, 40);
    PumpUntil([&] { return pad.ready(); });
    pad.MoveTo(100);
    pad.SelectNextSection();
    pad.SelectNextSection();
    Pump(500);
    Shoot(&pad, out + "/scratch-pad.png");
  }
  {
    auto* preview =
        new ui::SimplePreview(QString::fromStdString(entry.path),
                              ui::playback::DefaultPlayerServices({}), dialogs, mainWindow);
    preview->show();
    Pump(1500);
    preview->player().Pause();
    Shoot(preview, out + "/simple-preview.png");
    preview->close();
  }
  {
    ui::SelectFilesMemory memory;
    memory.folder = media;
    ui::SelectFilesServices s;
    s.player = ui::playback::DefaultPlayerServices({});
    s.dialogs = &dialogs;
    s.help = &help;
    s.showInformation = [](QWidget*, const QString&) {};
    s.memory = &memory;
    ui::SelectFilesDialog dialog(std::move(s), mainWindow);
    dialog.show();
    dialog.move(40, 40);
    Pump(500);
    dialog.nameEdit->setText(QStringLiteral("Holiday.avi"));
    PumpUntil([&] { return dialog.previewValid(); });
    Shoot(&dialog, out + "/select-files.png");
  }
  {
    ui::ThumbnailBrowser browser(media, mainWindow);
    browser.show();
    browser.move(40, 40);
    PumpUntil([&] { return browser.thumbnailsReady() == 4; });
    Shoot(&browser, out + "/thumbnail-browser.png");
  }
}

}  // namespace calvex::testing
