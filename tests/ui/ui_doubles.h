// Test doubles for the desktop program: dialogs that answer from a script and record what they
// were shown, information readers that describe made-up files, and drivers that report progress
// with pictures.
#pragma once

#include <QStringList>
#include <atomic>
#include <deque>
#include <functional>
#include <ostream>
#include <string>

#include "core/drivers.h"
#include "engine/source_files.h"
#include "ui/user_dialogs.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace calvex::testing {

class ScriptedDialogs : public ui::UserDialogs {
 public:
  void Beep() override { ++beeps; }
  void ExclamationSound() override { ++exclamations; }
  void ShowMessage(QWidget*, const QString& text, ui::BoxIcon icon) override {
    messages << (icon == ui::BoxIcon::kInformation ? "info: " : "exclamation: ") + text;
  }
  bool AskYesNo(QWidget*, const QString& question) override {
    questions << question;
    if (onQuestion) onQuestion(question);
    if (answers.empty()) return defaultAnswer;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  QStringList OpenFiles(QWidget*, const QString& title, const QString&) override {
    titles << title;
    return openFiles;
  }
  QString OpenFile(QWidget*, const QString& title, const QString&) override {
    titles << title;
    return openFile;
  }
  QString SaveFile(QWidget*, const QString& title, const QString&, const QString&) override {
    titles << title;
    return saveFile;
  }
  QString ChooseDirectory(QWidget*, const QString& title, const QString&) override {
    titles << title;
    return directory;
  }
  bool OpenInTextViewer(const QString& path) override {
    viewed << path;
    return true;
  }

  int beeps = 0;
  int exclamations = 0;
  QStringList messages, questions, titles, viewed;
  std::deque<bool> answers;
  bool defaultAnswer = true;
  std::function<void(const QString&)> onQuestion;
  QStringList openFiles;
  QString openFile, saveFile, directory;
};

// Information readers for made-up files: the picture size and sound come from the file name,
// such as "clip_320x240_s.avi" (s stereo, m mono, n no sound) or "voice_m.wav". The MPEG
// picture reader draws colour bars.
InfoReaders NamedInfoReaders();

// Drivers that report `steps` progress reports (with a picture of `width` x `height` on the
// video stage), pausing `pauseMs` between them, then write a small output. A source whose name
// contains "fail" returns 116; a report answered with cancel returns 1.
DriverSet ReportingDrivers(int steps = 4, int pauseMs = 0, int width = 64, int height = 48);

}  // namespace calvex::testing
