#include "ui/preferences_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <filesystem>

#include "core/error_report.h"
#include "ui/help.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

// Whether a log file can be created under `name`: creates it as a test and deletes it again
// (an existing file is left as it was).
bool CanCreateLog(const std::string& name) {
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) return false;
  const bool existed = std::filesystem::exists(name, ec);
  std::FILE* f = std::fopen(name.c_str(), "ab");
  if (f == nullptr) return false;
  std::fclose(f);
  if (!existed) std::filesystem::remove(name, ec);
  return true;
}

}  // namespace

PreferencesDialog::PreferencesDialog(const Preferences& current, std::string iniPath,
                                     UserDialogs& dialogs, HelpSystem& help, QWidget* parent)
    : QDialog(parent), preferences_(current), iniPath_(std::move(iniPath)), dialogs_(dialogs) {
  setWindowTitle(ApplicationTitle());
  beepDone = new QCheckBox(QStringLiteral("&Beep When Conversion is Complete"), this);
  toolTip = new QCheckBox(QStringLiteral("Show &ToolTips"), this);
  saveWhenExit = new QCheckBox(QStringLiteral("&Save Settings on Exit"), this);
  abortWhenErr = new QCheckBox(QStringLiteral("Abort Conversion When &Error Occurs"), this);
  logFile = new QCheckBox(QStringLiteral("&Create a Log File:"), this);
  logFileName = new QLineEdit(this);
  highQuality = new QCheckBox(QStringLiteral("High &quality encoding"), this);
  highQuality->setToolTip(
      QStringLiteral("AVI to MPEG: a wider motion search and each macroblock coded the way that "
                     "costs least for its quality (slower)"));
  logFileName->setMaxLength(static_cast<int>(kLogFileNameMax));
  logFileName->setMinimumWidth(420);

  beepDone->setChecked(current.beepDone);
  toolTip->setChecked(current.toolTip);
  saveWhenExit->setChecked(current.saveWhenExit);
  abortWhenErr->setChecked(current.abortWhenErr);
  logFile->setChecked(current.logFile);
  highQuality->setChecked(current.highQuality);
  logFileName->setText(QString::fromStdString(current.logFileName));
  logFileName->setEnabled(current.logFile);
  connect(logFile, &QCheckBox::toggled, logFileName, &QLineEdit::setEnabled);

  auto* buttons = new QDialogButtonBox(this);
  okButton = buttons->addButton(QDialogButtonBox::Ok);
  cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
  helpButton = AddHelpButton(buttons, this, &help, kHelpPreferences);
  connect(okButton, &QPushButton::clicked, this, &PreferencesDialog::Confirm);
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  for (QWidget* w : std::initializer_list<QWidget*>{beepDone, toolTip, saveWhenExit, abortWhenErr,
                                                    logFile, logFileName, highQuality})
    layout->addWidget(w);
  layout->addSpacing(8);
  layout->addWidget(buttons);
}

void PreferencesDialog::Confirm() {
  if (logFile->isChecked()) {
    // Names are compared as they are: file names are case-sensitive here.
    const std::string name = logFileName->text().toStdString();
    if (name != preferences_.logFileName) {
      if (name.empty() || !CanCreateLog(name)) {
        dialogs_.ShowMessage(this, QString::fromStdString(ErrorText(kCreateFailed, name)),
                             BoxIcon::kExclamation);
        return;  // the dialog stays open and nothing is saved
      }
      WriteProfileString(iniPath_, kSectionName, kKeyLogFileName, name);
      preferences_.logFileName = name;
    }
  }
  const auto write = [this](QCheckBox* box, bool& flag, const char* key) {
    if (box->isChecked() == flag) return;
    flag = box->isChecked();
    WriteProfileString(iniPath_, kSectionName, key, flag ? "1" : "0");
  };
  write(logFile, preferences_.logFile, kKeyLogFile);
  write(beepDone, preferences_.beepDone, kKeyBeepDone);
  write(toolTip, preferences_.toolTip, kKeyToolTip);
  write(saveWhenExit, preferences_.saveWhenExit, kKeySaveWhenExit);
  write(abortWhenErr, preferences_.abortWhenErr, kKeyAbortWhenErr);
  write(highQuality, preferences_.highQuality, kKeyHighQuality);
  accept();
}

}  // namespace calvex::ui
