// The program's help: short HTML topics built into the program, one per help context, shown in
// one help window (or, for the toolbar's Convert and Exit, in a small popup by the pointer).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <QDialog>
class QTextBrowser;
class QWidget;

namespace calvex::ui {

// Context numbers of the help topics.
enum HelpContext : int {
  kHelpContents = 600,
  kHelpLoadList = 605,
  kHelpSaveList = 606,
  kHelpSelectDirectory = 607,
  kHelpPreferences = 608,
  kHelpAudioFormat = 612,
  kHelpAviToMpegPage = 651,
  kHelpMpegToAviPage = 652,
  kHelpMp2ToWavPage = 653,
  kHelpWavToMp2Page = 654,
  kHelpMainWindow = 655,
  kHelpConvertButton = 660,
  kHelpHelpButton = 661,
  kHelpExitButton = 662,
  kHelpProducts = 700,  // the "products.hlp" contents
};

class HelpSystem : public QObject {
  Q_OBJECT
 public:
  explicit HelpSystem(QObject* parent = nullptr);
  ~HelpSystem() override;

  // The topic's HTML, or an empty text for an unknown context.
  static QString TopicHtml(int context);

  // Shows a topic in the help window.
  void ShowTopic(int context, QWidget* near = nullptr);
  // Shows a topic in a small popup at the pointer.
  void ShowPopup(int context);
  // Shows plain text (a log file that no text viewer would open) in the help window.
  void ShowText(const QString& title, const QString& text);

  // What was shown last (tests and the F1 handler's callers read it).
  int lastContext() const { return lastContext_; }
  bool lastWasPopup() const { return lastWasPopup_; }
  bool used() const { return lastContext_ != 0; }
  QDialog* window() const { return window_; }

 private:
  void EnsureWindow();

  QPointer<QDialog> window_;
  QTextBrowser* browser_ = nullptr;
  int lastContext_ = 0;
  bool lastWasPopup_ = false;
};

}  // namespace calvex::ui
