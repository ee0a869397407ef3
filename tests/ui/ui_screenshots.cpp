// Takes screenshots of the desktop program on a real display (scripts/screenshots runs it under
// Xvfb): the main window on each page tab, during a run and resized, the preferences dialog, the
// four information dialogs, the Video Compression dialog and the players. The list is made of
// made-up files described by test readers; the run uses drivers that report pictures.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "screenshot_support.h"
#include "ui/compression/video_compression_dialog.h"
#include "ui/help.h"
#include "ui/info/information_dialog.h"
#include "ui/main_window.h"
#include "ui/player/install_players.h"
#include "ui/preferences_dialog.h"
#include "ui_doubles.h"

using calvex::testing::Pump;
using calvex::testing::Shoot;

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT-DIRECTORY\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QTemporaryDir work;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.filePath(QStringLiteral("config"))));
  qputenv("XDG_DATA_HOME", QFile::encodeName(work.filePath(QStringLiteral("data"))));
  const QString clips = work.filePath(QStringLiteral("Clips"));
  QDir().mkpath(clips);
  QDir().mkpath(work.filePath(QStringLiteral("data/vorla.dat")));
  const QStringList names = {"Holiday_320x240_s.avi",
                             "Intro_352x240_m.avi",
                             "Voice_m.wav",
                             "Trailer_352x240_s.mpg",
                             "Song_s.mp2",
                             "Summer/Camping by the lake with the whole family, second "
                             "week/Evening by the fire_320x240_s.avi"};
  QStringList paths;
  for (const QString& n : names) {
    paths << clips + "/" + n;
    QDir().mkpath(QFileInfo(paths.back()).path());
    std::ofstream(paths.back().toStdString()) << "sample";
  }

  calvex::testing::ScriptedDialogs dialogs;
  calvex::ui::MainWindowServices services;
  services.readers = calvex::testing::NamedInfoReaders();
  services.drivers = calvex::testing::ReportingDrivers(120, 25, 320, 240);
  services.dialogs = &dialogs;
  services.preferencesPath = work.filePath(QStringLiteral("config/vorla.ini")).toStdString();
  services.savedListPath =
      work.filePath(QStringLiteral("data/vorla.dat/vxmpeg1.dat")).toStdString();

  calvex::ui::MainWindow window(std::move(services));
  // Wired as the program wires them, so "S&cratch..." is enabled as a user sees it.
  calvex::ui::PlayerWiring players;
  players.dialogs = &dialogs;
  calvex::ui::InstallPlayers(window, std::move(players));
  window.move(20, 20);
  window.show();
  window.activateWindow();
  Shoot(&window, out + "/nothing-selected.png");

  window.AddFiles(paths, true);
  window.RefreshPages();
  const struct {
    std::vector<int> rows;
    const char* name;
  } shots[] = {{{0}, "page-avi-to-mpeg.png"},
               {{2}, "page-wav-to-mp2.png"},
               {{3}, "page-mpeg-to-avi.png"},
               {{4}, "page-mp2-to-wav.png"},
               {{0, 1}, "mixed-avi-selection.png"}};
  for (const auto& shot : shots) {
    window.SetSelection(shot.rows);
    window.RefreshPages();
    Shoot(&window, out + "/" + shot.name);
  }
  window.SetSelection({0, 1, 2, 3, 4});
  window.RefreshPages();
  Shoot(&window, out + "/all-selected.png");

  window.anotherDirectory->setChecked(true);
  window.directoryEdit->setText(work.filePath(QStringLiteral("Out")));
  QDir().mkpath(work.filePath(QStringLiteral("Out")));
  window.ConvertCommand();
  Pump(1500);
  Shoot(&window, out + "/converting.png");
  // Esc, then Yes: the run ends as cancelled.
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&window, &esc);
  QElapsedTimer t;
  t.start();
  while (window.runInProgress() && t.elapsed() < 20000) Pump(50);

  calvex::ui::PreferencesDialog prefs(
      window.preferences(), work.filePath(QStringLiteral("config/vorla.ini")).toStdString(),
      dialogs, window.help(), &window);
  prefs.show();
  prefs.move(40, 40);
  Shoot(&prefs, out + "/preferences.png");
  prefs.close();
  calvex::testing::ShootPlayers(&window, out, work.path());

  // The information dialogs, over blocks with the figures of real files.
  window.SetSelection({0});
  window.RefreshPages();
  const auto entryOf = [&](int row) { return window.entries()[static_cast<std::size_t>(row)]; };
  calvex::SourceEntry avi = entryOf(0);
  avi.aviInfo.fileSize = 4873216;
  avi.aviInfo.videoDataSize = 4519424;
  avi.aviInfo.audioDataSize = 330750;
  avi.aviInfo.compressionRatioTenths = 204;
  std::strcpy(avi.aviInfo.compressionName, "Motion JPEG");
  calvex::SourceEntry wav = entryOf(2);
  wav.wavInfo.fileSize = 1088684;
  wav.wavInfo.durationHundredths = 1234;
  calvex::SourceEntry mpeg = entryOf(3);
  mpeg.mpegInfo.fileSize = 2654208;
  mpeg.mpegInfo.videoBitRate = 3750;
  mpeg.mpegInfo.audioBitrateIndex = 8;
  calvex::SourceEntry mp2 = entryOf(4);
  mp2.mp2Info.fileSize = 95000;
  mp2.mp2Info.bitrateIndex = 10;
  const std::pair<calvex::SourceEntry*, const char*> infos[] = {{&avi, "info-avi.png"},
                                                                {&wav, "info-wav.png"},
                                                                {&mpeg, "info-mpeg.png"},
                                                                {&mp2, "info-mp2.png"}};
  for (const auto& [entry, name] : infos) {
    calvex::ui::InformationDialog info(*entry, &window.help(), &window);
    info.show();
    Shoot(&info, out + "/" + name);
  }

  calvex::MpegToAviParams record;
  record.compressor = 0x47504A4D;  // "MJPG"
  record.quality = 8500;
  calvex::ui::VideoCompressionDialog compression(record, &window.help(), &window);
  compression.show();
  Shoot(&compression, out + "/video-compression.png");
  compression.close();

  // Grown by a third: the list takes the room; long paths are shortened in the middle.
  window.move(20, 20);
  window.resize(window.size() * 4 / 3);
  window.SetSelection({1});
  window.RefreshPages();
  Shoot(&window, out + "/main-window-resized.png");
  window.close();
  return 0;
}
