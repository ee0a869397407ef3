#include "ui/user_dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "core/messages.h"

namespace calvex::ui {

QString Message(int id) {
  const std::string_view text = MessageText(id);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString ApplicationTitle() {
  return Message(31);
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

QStringList DesktopDialogs::OpenFiles(QWidget* parent, const QString& title,
                                      const QString& filters) {
  return QFileDialog::getOpenFileNames(parent, title, QString(), filters);
}

QString DesktopDialogs::OpenFile(QWidget* parent, const QString& title, const QString& filters) {
  return QFileDialog::getOpenFileName(parent, title, QString(), filters);
}

QString DesktopDialogs::SaveFile(QWidget* parent, const QString& title, const QString& filters,
                                 const QString& defaultSuffix) {
  QFileDialog dialog(parent, title, QString(), filters);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(defaultSuffix);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

QString DesktopDialogs::ChooseDirectory(QWidget* parent, const QString& title,
                                        const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start);
}

bool DesktopDialogs::OpenInTextViewer(const QString& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace calvex::ui
