// The four information dialogs ("InfoAVI", "InfoWAV", "InfoMPEG", "InfoMP2"), and the one way to
// open them, which the main window's "&Info..." and the Select Files dialog share.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/status.h"
#include "engine/source_files.h"

class QLabel;
class QPushButton;

namespace calvex::ui {

class HelpSystem;
class UserDialogs;

// Reads `path`'s information with `readers` and shows the dialog of its kind, modal over `parent`
// (centred on the desktop). A file that cannot be read is reported with its message through
// `dialogs` instead. Returns 0 once the dialog was closed, or the reader's failure.
Status ShowFileInformation(QWidget* parent, const std::string& path, const InfoReaders& readers,
                           HelpSystem* help, UserDialogs& dialogs);

// The dialog of the entry's kind, showing its information block. An AVI block first gets the
// video duration and "No Compression" written back (CompleteAviInfo).
class InformationDialog : public QDialog {
  Q_OBJECT
 public:
  InformationDialog(SourceEntry& entry, HelpSystem* help, QWidget* parent = nullptr);

  // The text of the field labelled `label` in `group` ("" for the file's own fields, "Video" or
  // "Audio"); a null string when the dialog has no such field.
  QString FieldText(const QString& group, const QString& label) const;
  int helpContext() const { return helpContext_; }

  QPushButton* okButton = nullptr;
  QPushButton* helpButton = nullptr;

 private:
  struct Field {
    QString group;
    QString label;
    QLabel* value;
  };
  std::vector<Field> fields_;
  int helpContext_ = 0;
};

}  // namespace calvex::ui
