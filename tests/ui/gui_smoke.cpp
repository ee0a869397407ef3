// Smoke test of the desktop program on a real X server, driven by real input events (xdotool):
// offscreen tests cannot see what holds the pointer or the keyboard. It starts the program as
// calvex-gui does, with two files, and a second start hands it two more; then F1 over Convert
// and Exit with the popups closed by Esc and by a click, each information dialog and the Video
// Compression dialog opened and closed, and one file converted. After every step a click on a
// list entry must change the selection: the window still answers.
//
//   calvex_gui_smoke CALVEX-GUI      (gui_smoke.sh runs it under Xvfb; exit 77: skipped)
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
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

  bool WindowAnswers();
  bool F1Popup(const std::function<QWidget*()>& button, bool closeWithEsc);
  bool InformationDialog(int row, const QString& title);
  bool CompressionDialog();
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
  const int mpeg = Gui([this] {
    for (int i = 0; i < window().fileList->count(); ++i)
      if (window().fileList->item(i)->text().endsWith(".mpg")) return i;
    return -1;
  });
  ClickAt(RowCentre(mpeg));
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
    const int row = Gui([&] {
      for (int i = 0; i < window().fileList->count(); ++i)
        if (window().fileList->item(i)->text().endsWith(extension)) return i;
      return -1;
    });
    if (row < 0) return Fail("no such entry");
    if (!InformationDialog(row, title)) return false;
  }

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
  const std::string picture = "-f lavfi -i testsrc2=size=176x120:rate=25:duration=1 ";
  const std::string sound = "-f lavfi -i sine=f=440:sample_rate=44100:d=1 ";
  for (const std::string& command :
       {ff + picture + sound + "-c:v mpeg1video -c:a mp2 -f mpeg clip.mpg",
        ff + picture + sound + "-c:v mjpeg -c:a pcm_s16le movie.avi",
        ff + sound + "-c:a pcm_s16le voice.wav", ff + sound + "-c:a mp2 song.mp2"}) {
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
