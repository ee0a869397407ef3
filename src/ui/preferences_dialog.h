// The preferences dialog ("PREFBOX"): six check boxes and the log file name. "OK" writes each
// value that changed, and only those, to the preferences file.
#pragma once

#include <QDialog>

#include "ui/preferences.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace calvex::ui {

class HelpSystem;
class UserDialogs;

class PreferencesDialog : public QDialog {
  Q_OBJECT
 public:
  PreferencesDialog(const Preferences& current, std::string iniPath, UserDialogs& dialogs,
                    HelpSystem& help, QWidget* parent = nullptr);

  // The preferences after "OK" (the current ones after "Cancel").
  const Preferences& result() const { return preferences_; }

  QCheckBox* beepDone = nullptr;      // 611
  QCheckBox* toolTip = nullptr;       // 612
  QCheckBox* saveWhenExit = nullptr;  // 613
  QCheckBox* abortWhenErr = nullptr;  // 614
  QCheckBox* logFile = nullptr;       // 615
  QLineEdit* logFileName = nullptr;   // 631
  QCheckBox* highQuality = nullptr;   // "High quality encoding"
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
  QPushButton* helpButton = nullptr;

 private:
  void Confirm();

  Preferences preferences_;
  std::string iniPath_;
  UserDialogs& dialogs_;
};

}  // namespace calvex::ui
