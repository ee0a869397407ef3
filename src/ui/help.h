// The program's help: short HTML topics built into the program, one per help context, shown in
// one help window (or, for the toolbar's Convert and Exit, in a small popup by the pointer).
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class QDialogButtonBox;
class QPushButton;
class QTextBrowser;
class QWidget;

namespace calvex::ui {

// Context numbers of the help topics.
enum HelpContext : int {
  kHelpContents = 0,  // the contents page, which has no number of its own
  kHelpMpegInfo = 600,
  kHelpAviInfo = 601,
  kHelpWavInfo = 602,
  kHelpMp2Info = 603,
  kHelpSelectFiles = 604,
  kHelpLoadList = 605,
  kHelpSaveList = 606,
  kHelpSelectDirectory = 607,
  kHelpPreferences = 608,
  kHelpScratchPad = 609,
  kHelpVideoCompression = 611,
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

  // The topic's HTML, or an empty text for an unknown context. Topics without a number (reached
  // through links "topic:NAME") go by name.
  static QString TopicHtml(int context);
  static QString TopicHtml(const QString& name);

  // Shows a topic in the help window.
  void ShowTopic(int context, QWidget* near = nullptr);
  // Shows a topic in a small popup at the pointer. It closes on any key or click, and when the
  // pointer leaves it.
  void ShowPopup(int context);
  // Shows plain text (a log file that no text viewer would open) in the help window.
  void ShowText(const QString& title, const QString& text);

  // What was shown last (tests and the F1 handler's callers read it).
  int lastContext() const { return lastContext_; }
  bool lastWasPopup() const { return lastWasPopup_; }
  bool used() const { return used_; }
  QDialog* window() const { return window_; }

 private:
  void EnsureWindow();
  void Show(const QString& html);

  QPointer<QDialog> window_;
  QTextBrowser* browser_ = nullptr;
  int lastContext_ = -1;
  bool lastWasPopup_ = false;
  bool used_ = false;
};

// Marks `dialog` as one whose topic F1 opens, and makes it modal to its parent window only, so
// that the help window stays usable while the dialog is up.
void SetDialogHelp(QDialog* dialog, int context);
// Adds "&Help" to a dialog's buttons: it shows the dialog's topic, which F1 in the dialog shows
// too (SetDialogHelp). `help` may be null (no help window).
QPushButton* AddHelpButton(QDialogButtonBox* buttons, QDialog* dialog, HelpSystem* help,
                           int context);
// The context SetDialogHelp gave the dialog that `widget` belongs to, if any.
std::optional<int> DialogHelpContext(const QWidget* widget);

}  // namespace calvex::ui
