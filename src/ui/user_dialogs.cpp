#include "ui/user_dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include "core/messages.h"
#include "ui/help.h"
#include "ui/select_files/thumbnail_browser.h"

namespace calvex::ui {

QString Message(int id) {
  const std::string_view text = MessageText(id);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString ApplicationTitle() {
  return Message(31);
}

void CentreOnDesktop(QWidget* window) {
  const QScreen* screen = window->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  window->adjustSize();
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

void DesktopDialogs::Beep() {
  QApplication::beep();
}

void DesktopDialogs::ExclamationSound() {
  QApplication::beep();
}

void DesktopDialogs::ShowMessage(QWidget* parent, const QString& text, BoxIcon icon) {
  QMessageBox box(icon == BoxIcon::kInformation ? QMessageBox::Information : QMessageBox::Warning,
                  ApplicationTitle(), text, QMessageBox::Ok, parent);
  box.exec();
}

bool DesktopDialogs::AskYesNo(QWidget* parent, const QString& question) {
  QMessageBox box(QMessageBox::Question, ApplicationTitle(), question,
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

namespace {

enum class Thumbnails { kNo, kYes };

// Runs a chooser with "&Help" for `context`, and with Thumbnails::kYes "&Browse...": the thumbnail
// browser of the folder shown, whose choice goes into the name field. Its answer, or nothing when
// cancelled.
QStringList RunChooser(QFileDialog& dialog, HelpSystem* help, int context,
                       Thumbnails thumbnails = Thumbnails::kNo) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (auto* buttons = dialog.findChild<QDialogButtonBox*>()) {
    if (thumbnails == Thumbnails::kYes) {
      QPushButton* browse =
          buttons->addButton(QStringLiteral("&Browse..."), QDialogButtonBox::ActionRole);
      QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog] {
        const QString chosen = ThumbnailBrowser::Choose(dialog.directory().absolutePath(), &dialog);
        if (!chosen.isEmpty()) dialog.selectFile(chosen);
      });
    }
    AddHelpButton(buttons, &dialog, help, context);
  }
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString First(const QStringList& answer) {
  return answer.isEmpty() ? QString() : answer.front();
}

}  // namespace

QStringList DesktopDialogs::OpenFiles(QWidget* parent, const QString& title,
                                      const QString& filters) {
  QFileDialog dialog(parent, title, QString(), filters);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  return RunChooser(dialog, help, kHelpSelectFiles);
}

QString DesktopDialogs::OpenFile(QWidget* parent, const QString& title, const QString& filters) {
  QFileDialog dialog(parent, title, QString(), filters);
  dialog.setFileMode(QFileDialog::ExistingFile);
  return First(RunChooser(dialog, help, kHelpLoadList, Thumbnails::kYes));
}

QString DesktopDialogs::SaveFile(QWidget* parent, const QString& title, const QString& filters,
                                 const QString& defaultSuffix) {
  QFileDialog dialog(parent, title, QString(), filters);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(defaultSuffix);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  return First(RunChooser(dialog, help, kHelpSaveList, Thumbnails::kYes));
}

QString DesktopDialogs::ChooseDirectory(QWidget* parent, const QString& title,
                                        const QString& start) {
  QFileDialog dialog(parent, title, start);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  return First(RunChooser(dialog, help, kHelpSelectDirectory));
}

bool DesktopDialogs::OpenInTextViewer(const QString& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace calvex::ui
