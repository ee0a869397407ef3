// calvex-gui: the desktop program.
#include <QApplication>
#include <QDir>

#include "ui/command_line_help.h"
#include "ui/desktop_program.h"
#include "ui/program_icon.h"

int main(int argc, char* argv[]) {
  if (const auto status = calvex::ui::AnswerHelpOrVersion(argc, argv)) return *status;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("calvex-gui"));
  // Every window shows the program's icon; the desktop entry names it for the window manager.
  QApplication::setWindowIcon(calvex::ui::ProgramIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("calvex"));
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();

  calvex::ui::DesktopProgram program;
  if (!program.Start(arguments, QDir::currentPath())) return 0;
  return QApplication::exec();
}
