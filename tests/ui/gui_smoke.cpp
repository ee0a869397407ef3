// Smoke test of the desktop program on a real X server, driven by real input events (xdotool):
// offscreen tests cannot see what holds the pointer or the keyboard. It starts the program as
// calvex-gui does, with two files, and a second start hands it two more; then F1 over Convert
// and Exit with the popups closed by Esc and by a click, each information dialog opened and
// closed, the Scratch Pad on the MPEG and the AVI entry (play, pause, step, two sections marked
// and ejected into the entry), a file picked in Select Files and played in place, the Video
// Compression dialog opened and closed, and one file converted. After every step a click on a
// list entry must change the selection: the window still answers.
//
//   calvex_gui_smoke CALVEX-GUI      (gui_smoke.sh runs it under Xvfb; exit 77: skipped)
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "ui/desktop_program.h"
#include "ui/pages/mpeg_to_avi_page.h"
#include "ui/player/scratch_pad.h"
#include "ui/select_files/select_files_dialog.h"
#include "ui/toolbar.h"

namespace {

using calvex::ui::MainWindow;

constexpr int kSkipped = 77;

// The steps run on a thread of their own, so that the program's event loop (and the loops of
// its modal dialogs) goes on while they wait; they look at the widgets on the UI thread.
class Driver {
 public:
  explicit Driver(calvex::ui::DesktopProgram& program, std::string gui, QString media)
      : program_(program), gui_(std::move(gui)), media_(std::move(media)) {}

  bool Run();
  const std::string& failure() const { return failure_; }

 private:
  MainWindow& window() { return program_.window(); }

  template <typename F>
  auto Gui(F f) {
    using Result = decltype(f());
    if constexpr (std::is_void_v<Result>) {
      QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
    } else {
      Result result{};
      QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection, &result);
      return result;
    }
  }

  bool WaitFor(const std::function<bool()>& condition, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      if (Gui(condition)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  void Step(const std::string& name) {
    step_ = name;
    std::printf("%6.1f s  %s\n", Seconds(), name.c_str());
    std::fflush(stdout);
  }
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

  bool Fail(const std::string& what) {
    failure_ = step_ + ": " + what;
    return false;
  }

  static void Xdo(const std::string& arguments) {
    const std::string command = "xdotool " + arguments;
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }

  // The middle of a widget on the screen.
  QPoint Centre(const std::function<QWidget*()>& widget) {
    return Gui([&] {
      QWidget* w = widget();
      return w->mapToGlobal(w->rect().center());
    });
  }
  void MoveTo(const QPoint& p) {
    Xdo("mousemove " + std::to_string(p.x()) + " " + std::to_string(p.y()));
  }
  void ClickAt(const QPoint& p, const std::string& modifier = {}) {
    // A second click on the same spot would be a double click.
    const auto now = std::chrono::steady_clock::now();
    const auto apart = std::chrono::milliseconds(QApplication::doubleClickInterval() + 100);
    if (p == lastClick_ && now - lastClickTime_ < apart)
      std::this_thread::sleep_for(apart - (now - lastClickTime_));
    lastClick_ = p;
    MoveTo(p);
    if (!modifier.empty()) Xdo("keydown " + modifier);
    Xdo("click 1");
    if (!modifier.empty()) Xdo("keyup " + modifier);
    lastClickTime_ = std::chrono::steady_clock::now();
  }
  QPoint RowCentre(int row) {
    return Gui([this, row] {
      QListWidget* list = window().fileList;
      return list->viewport()->mapToGlobal(list->visualItemRect(list->item(row)).center());
    });
  }
  int Count() {
    return Gui([this] { return window().fileList->count(); });
  }
  // The first entry whose name ends in `extension`, or -1.
  int RowOf(const QString& extension) {
    return Gui([&] {
      for (int i = 0; i < window().fileList->count(); ++i)
        if (window().fileList->item(i)->text().endsWith(extension)) return i;
      return -1;
    });
  }

  bool WindowAnswers();
  bool F1Popup(const std::function<QWidget*()>& button, bool closeWithEsc);
  bool InformationDialog(int row, const QString& title);
  bool CompressionDialog();
  bool ScratchPadSections(const QString& extension);
  bool SelectFilesPlay();
  bool ConvertOneFile();

  calvex::ui::DesktopProgram& program_;
  std::string gui_;
  QString media_;
  std::string step_;
  std::string failure_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  QPoint lastClick_;
  std::chrono::steady_clock::time_point lastClickTime_;
};

// A click on an entry that is not the selection selects it (with one entry, Ctrl+click takes the
// selection away and a click puts it back).
bool Driver::WindowAnswers() {
  const auto selected = [this] { return window().SelectedRows(); };
  if (Count() == 1) {
    if (Gui(selected) == std::vector<int>{0}) {
      ClickAt(RowCentre(0), "ctrl");
      if (!WaitFor([&] { return selected().empty(); })) return Fail("Ctrl+click did not deselect");
    }
    ClickAt(RowCentre(0));
    return WaitFor([&] { return selected() == std::vector<int>{0}; }) ||
           Fail("a click did not select the entry: the window does not answer");
  }
  const std::vector<int> before = Gui(selected);
  const int row = before == std::vector<int>{0} ? 1 : 0;
  ClickAt(RowCentre(row));
  if (WaitFor([&] { return selected() == std::vector<int>{row}; })) return true;
  std::string now;
  for (int r : Gui(selected)) now += " " + std::to_string(r);
  return Fail("a click did not select entry " + std::to_string(row) + " (selected:" + now +
              "): the window does not answer");
}

bool Driver::F1Popup(const std::function<QWidget*()>& button, bool closeWithEsc) {
  MoveTo(Centre(button));
  Xdo("key F1");
  if (!WaitFor([] { return QApplication::activePopupWidget() != nullptr; }))
    return Fail("F1 showed no popup");
  if (closeWithEsc) {
    Xdo("key Escape");
  } else {
    Xdo("click 1");
  }
  if (!WaitFor([] { return QApplication::activePopupWidget() == nullptr; }))
    return Fail("the popup stayed open");
  if (!Gui([this] { return window().isVisible(); })) return Fail("the window went away");
  return WindowAnswers();
}

bool Driver::InformationDialog(int row, const QString& title) {
  ClickAt(RowCentre(row));
  if (!WaitFor([this] { return window().infoButton->isEnabled(); }))
    return Fail("Info stayed disabled");
  ClickAt(Centre([this] { return window().infoButton; }));
  if (!WaitFor([&] {
        QWidget* modal = QApplication::activeModalWidget();
        return modal != nullptr && modal->windowTitle() == title && modal->isActiveWindow();
      }))
    return Fail("no " + title.toStdString());
  Xdo("key Escape");
  if (!WaitFor([] { return QApplication::activeModalWidget() == nullptr; }))
    return Fail("Esc did not close the dialog");
  return WindowAnswers();
}

bool Driver::CompressionDialog() {
  ClickAt(RowCentre(RowOf(".mpg")));
  if (!WaitFor([this] { return window().mpegPage->videoButton->isVisible(); }))
    return Fail("the MPEG to AVI page did not show");
  ClickAt(Centre([this] { return window().mpegPage->videoButton; }));
  if (!WaitFor([] {
        QWidget* modal = QApplication::activeModalWidget();
        return modal != nullptr && modal->windowTitle() == "Video Compression" &&
               modal->isActiveWindow();
      }))
    return Fail("no Video Compression dialog");
  Xdo("key Escape");
  if (!WaitFor([] { return QApplication::activeModalWidget() == nullptr; }))
    return Fail("Esc did not close the dialog");
  return WindowAnswers();
}

// On the entry of `extension`: plays, pauses, steps to the next frame, marks a section from there
// to the next Forward stop and one of the first two frames, and ejects; the entry then holds both.
bool Driver::ScratchPadSections(const QString& extension) {
  using calvex::ui::ScratchPad;
  const int row = RowOf(extension);
  if (row < 0) return Fail("no such entry");
  ClickAt(RowCentre(row));
  if (!WaitFor([this] { return window().scratchButton->isEnabled(); }))
    return Fail("Scratch... stayed disabled");
  ClickAt(Centre([this] { return window().scratchButton; }));
  ScratchPad* pad = nullptr;
  if (!WaitFor(
          [&] {
            pad = qobject_cast<ScratchPad*>(QApplication::activeModalWidget());
            return pad != nullptr && pad->isActiveWindow() && pad->ready();
          },
          10000))
    return Fail("no Scratch Pad ready to play");
  const auto press = [&](auto ScratchPad::*button) {
    ClickAt(Centre([&] { return static_cast<QWidget*>(pad->*button); }));
  };
  const auto position = [&] { return pad->position(); };

  press(&ScratchPad::playButton);
  if (!WaitFor([&] { return pad->player().playing() && position() > 2; }))
    return Fail("it did not play");
  press(&ScratchPad::playButton);
  if (!WaitFor([&] { return !pad->player().playing(); })) return Fail("Pause did not pause");
  const int paused = Gui(position);
  press(&ScratchPad::nextButton);
  if (!WaitFor([&] { return position() == paused + 1; })) return Fail("Next did not step");
  press(&ScratchPad::markInButton);
  press(&ScratchPad::forwardButton);
  if (!WaitFor([&] { return position() > paused + 1; })) return Fail("Forward did not move");
  const int out = Gui(position);
  press(&ScratchPad::markOutButton);
  press(&ScratchPad::beginButton);
  if (!WaitFor([&] { return position() == 0; })) return Fail("Begin did not go to 0");
  press(&ScratchPad::markInButton);
  press(&ScratchPad::nextButton);
  if (!WaitFor([&] { return position() == 1; })) return Fail("Next did not step");
  press(&ScratchPad::markOutButton);
  const std::vector<calvex::ui::FrameSection> expected = {{0, 1}, {paused + 1, out}};
  if (!WaitFor([&] { return pad->marks().sections() == expected; }))
    return Fail("the marks did not make the two sections");

  press(&ScratchPad::ejectButton);
  if (!WaitFor([] { return QApplication::activeModalWidget() == nullptr; }))
    return Fail("Eject did not close the Scratch Pad");
  const bool stored = Gui([&] {
    const std::vector<calvex::Section>& sections =
        window().entries()[static_cast<std::size_t>(row)].sections;
    return sections.size() == 2 && sections[0].first == 0 && sections[0].last == 1 &&
           sections[1].first == paused + 1 && sections[1].last == out;
  });
  if (!stored) return Fail("the entry does not hold the sections marked");
  return WindowAnswers();
}

// Select Files: the media folder typed into the name field and opened with Enter, movie.avi
// clicked in the file list, its preview played in place and paused, and the dialog cancelled.
bool Driver::SelectFilesPlay() {
  using calvex::ui::SelectFilesDialog;
  ClickAt(Centre([this] { return window().selectButton; }));
  SelectFilesDialog* dialog = nullptr;
  if (!WaitFor([&] {
        dialog = qobject_cast<SelectFilesDialog*>(QApplication::activeModalWidget());
        return dialog != nullptr && dialog->isActiveWindow();
      }))
    return Fail("no Select Files dialog");
  ClickAt(Centre([&] { return dialog->nameEdit; }));
  Xdo("type --delay 10 '" + media_.toStdString() + "'");
  Xdo("key Return");
  if (!WaitFor([&] { return dialog->folder() == media_; })) return Fail("the folder did not open");
  const QString movie = media_ + "/movie.avi";
  QPoint row;
  if (!WaitFor([&] {
        auto* files = qobject_cast<QFileSystemModel*>(dialog->fileView->model());
        const QRect rect = dialog->fileView->visualRect(files->index(movie));
        row = dialog->fileView->viewport()->mapToGlobal(rect.center());
        return rect.isValid();
      }))
    return Fail("movie.avi is not in the file list");
  ClickAt(row);
  if (!WaitFor([&] { return dialog->previewValid() && dialog->playButton->isEnabled(); }))
    return Fail("no preview of movie.avi");
  ClickAt(Centre([&] { return dialog->playButton; }));
  if (!WaitFor([&] {
        return dialog->playState() == SelectFilesDialog::PlayState::kPlaying &&
               dialog->player() != nullptr && dialog->player()->position() > 2;
      }))
    return Fail("it did not play in place");
  ClickAt(Centre([&] { return dialog->playButton; }));
  if (!WaitFor([&] { return dialog->playState() == SelectFilesDialog::PlayState::kPaused; }))
    return Fail("the play button did not pause");
  Xdo("key Escape");
  if (!WaitFor([] { return QApplication::activeModalWidget() == nullptr; }))
    return Fail("Esc did not close the dialog");
  return WindowAnswers();
}

// Removes every entry but the WAV file, converts it and answers the end of the run.
bool Driver::ConvertOneFile() {
  for (;;) {
    const int other = Gui([this] {
      for (int i = 0; i < window().fileList->count(); ++i)
        if (!window().fileList->item(i)->text().endsWith(".wav")) return i;
      return -1;
    });
    if (other < 0) break;
    const int before = Count();
    ClickAt(RowCentre(other));
    ClickAt(Centre([this] { return window().removeButton; }));
    if (!WaitFor([&] { return window().fileList->count() == before - 1; }))
      return Fail("Remove did not remove");
  }
  ClickAt(Centre([this] { return window().convertButton; }));
  if (!WaitFor(
          [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            return box != nullptr && box->text() == "Conversion complete." && box->isActiveWindow();
          },
          30000))
    return Fail("the run did not end with \"Conversion complete.\"");
  Xdo("key Return");
  if (!WaitFor([] { return QApplication::activeModalWidget() == nullptr; }))
    return Fail("Enter did not close the message");
  if (!QFile::exists(media_ + "/voice.mp2")) return Fail("no voice.mp2");
  return WindowAnswers();
}

bool Driver::Run() {
  Step("start with two files");
  if (!WaitFor([this] { return !window().initialising() && window().fileList->count() == 2; }))
    return Fail("the files were not added");
  if (!WindowAnswers()) return false;

  Step("F1 over Convert, closed with Esc");
  if (!F1Popup([this] { return window().convertButton; }, true)) return false;
  Step("F1 over Exit, closed with a click");
  if (!F1Popup([this] { return window().exitButton; }, false)) return false;

  Step("a second start hands over two files");
  const std::string second =
      "cd " + media_.toStdString() + " && timeout 20 " + gui_ + " movie.avi song.mp2";
  if (std::system(second.c_str()) != 0) return Fail("the second start failed");
  if (!WaitFor([this] { return window().fileList->count() == 4; }))
    return Fail("the files did not arrive");
  if (!WindowAnswers()) return false;

  const std::pair<const char*, const char*> dialogs[] = {{".mpg", "MPEG File Information"},
                                                         {".wav", "WAV File Information"},
                                                         {".avi", "AVI File Information"},
                                                         {".mp2", "MP2 File Information"}};
  for (const auto& [extension, title] : dialogs) {
    Step(std::string("information of the ") + extension + " file");
    const int row = RowOf(extension);
    if (row < 0) return Fail("no such entry");
    if (!InformationDialog(row, title)) return false;
  }

  for (const char* extension : {".mpg", ".avi"}) {
    Step(std::string("Scratch Pad on the ") + extension + " entry");
    if (!ScratchPadSections(extension)) return false;
  }
  Step("a file picked in Select Files and played in place");
  if (!SelectFilesPlay()) return false;

  Step("Video Compression dialog");
  if (!CompressionDialog()) return false;

  Step("convert one file");
  if (!ConvertOneFile()) return false;

  Step("Exit");
  ClickAt(Centre([this] { return window().exitButton; }));
  return WaitFor([this] { return !window().isVisible(); }) || Fail("the window stayed");
}

bool MakeMedia(const QString& dir) {
  const std::string d = dir.toStdString();
  const std::string ff = "cd " + d + " && ffmpeg -nostdin -v error -y ";
  // Movies of 3 s, long enough to be paused while they play.
  const std::string movie =
      "-f lavfi -i testsrc2=size=176x120:rate=25:duration=3 "
      "-f lavfi -i sine=f=440:sample_rate=44100:d=3 ";
  const std::string sound = "-f lavfi -i sine=f=440:sample_rate=44100:d=1 ";
  for (const std::string& command :
       {ff + movie + "-c:v mpeg1video -c:a mp2 -f mpeg clip.mpg",
        ff + movie + "-c:v mjpeg -c:a pcm_s16le movie.avi", ff + sound + "-c:a pcm_s16le voice.wav",
        ff + sound + "-c:a mp2 song.mp2"}) {
    if (std::system(command.c_str()) != 0) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CALVEX-GUI\n", argv[0]);
    return 2;
  }
  // This run's own settings, data and single-instance socket (in the temporary directory).
  QTemporaryDir work;
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
    const QString path = work.filePath(QString::fromLatin1(name));
    QDir().mkpath(path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv(name, QFile::encodeName(path));
  }
  const QString media = work.filePath(QStringLiteral("media"));
  QDir().mkpath(media);
  if (std::system("command -v ffmpeg >/dev/null") != 0 || !MakeMedia(media)) {
    std::printf("SKIPPED: ffmpeg could not make the test media\n");
    return kSkipped;
  }

  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // the steps end the run, after Exit
  calvex::ui::DesktopProgram program;
  if (!program.Start({"clip.mpg", "voice.wav"}, media)) {
    std::printf("FAILED: another program took the command line\n");
    return 1;
  }
  Driver driver(program, QFileInfo(QFile::decodeName(argv[1])).absoluteFilePath().toStdString(),
                media);
  bool passed = false;
  std::thread steps([&] {
    passed = driver.Run();
    QMetaObject::invokeMethod(
        qApp, [] { QApplication::exit(); }, Qt::QueuedConnection);
  });
  QApplication::exec();
  steps.join();
  if (!passed) {
    std::printf("FAILED: %s\n", driver.failure().c_str());
    return 1;
  }
  std::printf("passed: every step, and the window answered after each\n");
  return 0;
}
