// Everything the program asks of the user or the desktop outside its own windows: message boxes,
// sounds, file and directory choosers, the log viewer and the help window. The windows reach them
// only through this interface, so that tests answer them in place of a person.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace calvex::ui {

class HelpSystem;

enum class BoxIcon { kInformation, kExclamation, kQuestion };

class UserDialogs {
 public:
  virtual ~UserDialogs() = default;

  // The default sound (a refused file, a beep before a validation message).
  virtual void Beep() = 0;
  // The exclamation sound (run done with "BeepDone", a second start).
  virtual void ExclamationSound() = 0;

  // A message box with the application title and an OK button.
  virtual void ShowMessage(QWidget* parent, const QString& text, BoxIcon icon) = 0;
  // Yes and No with the question icon; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& question) = 0;

  // File choosers; an empty answer means cancelled.
  virtual QStringList OpenFiles(QWidget* parent, const QString& title, const QString& filters) = 0;
  virtual QString OpenFile(QWidget* parent, const QString& title, const QString& filters) = 0;
  // The save chooser does not ask about replacing: the caller asks message 242 itself.
  virtual QString SaveFile(QWidget* parent, const QString& title, const QString& filters,
                           const QString& defaultSuffix) = 0;
  virtual QString ChooseDirectory(QWidget* parent, const QString& title, const QString& start) = 0;

  // Opens the run's log in the desktop's text viewer; false when no viewer took it.
  virtual bool OpenInTextViewer(const QString& path) = 0;
};

// The real dialogs of the desktop. The file choosers are Qt's own (the platform's cannot take a
// "&Help" button): Select Files 604, Load 605, Save 606, Select Directory 607. The Load and Save
// choosers of list files also have "&Browse...", the thumbnail browser of the folder shown.
class DesktopDialogs : public UserDialogs {
 public:
  // The help window of the choosers' "&Help" (none: the button does nothing); the program sets it
  // once the main window exists.
  HelpSystem* help = nullptr;

  void Beep() override;
  void ExclamationSound() override;
  void ShowMessage(QWidget* parent, const QString& text, BoxIcon icon) override;
  bool AskYesNo(QWidget* parent, const QString& question) override;
  QStringList OpenFiles(QWidget* parent, const QString& title, const QString& filters) override;
  QString OpenFile(QWidget* parent, const QString& title, const QString& filters) override;
  QString SaveFile(QWidget* parent, const QString& title, const QString& filters,
                   const QString& defaultSuffix) override;
  QString ChooseDirectory(QWidget* parent, const QString& title, const QString& start) override;
  bool OpenInTextViewer(const QString& path) override;
};

// The application title (message 31), caption of the main window and of every message box.
QString ApplicationTitle();

// Message `id` of the message table as a QString.
QString Message(int id);

// Moves a window, at its present size, to the middle of the screen it is on.
void CentreOnDesktop(QWidget* window);

}  // namespace calvex::ui
