// The main window: the "VIDEO" panel with the toolbar, the source list and its buttons, the
// destination choice and the page tabs, and the status strip along the bottom. It owns the list
// of source entries and runs the conversions over it.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/drivers.h"
#include "core/settings.h"
#include "engine/batch_run.h"
#include "engine/list_file.h"
#include "engine/run_log.h"
#include "engine/source_files.h"
#include "ui/gui_host.h"
#include "ui/preferences.h"

class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QThread;
class QUrl;

namespace calvex::ui {

class AviToMpegPage;
class FrameView;
class HelpSystem;
class Mp2ToWavPage;
class MpegToAviPage;
class StatusStrip;
class ToolBarButton;
class ToolBarLogo;
class UserDialogs;
class WavToMp2Page;

// What the window is built with: the program wires the real ones, tests their doubles.
struct MainWindowServices {
  DriverSet drivers;
  InfoReaders readers;
  UserDialogs* dialogs = nullptr;  // not owned
  std::string preferencesPath;
  std::string savedListPath;
  LocalClock clock;  // empty: the local time
};

class MainWindow : public QWidget, private RunView {
  Q_OBJECT
 public:
  explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
  ~MainWindow() override;

  // --- Start-up ---
  // Loads the saved list (when "SaveWhenExit" is on) and adds the files of the command line, as
  // commands queued behind the window's first paint; the toolbar waits for them.
  void StartUp(const QStringList& commandLine, const QString& workingDirectory);
  bool initialising() const { return initialising_; }

  // Files named on a command line (this program's or a second start's): file names, or a
  // directory followed by names inside it; relative names resolve against `workingDirectory`.
  static QStringList CommandLinePaths(const QStringList& arguments,
                                      const QString& workingDirectory);
  // Adds them as a selection (a second start hands its command line over to this).
  void AddCommandLine(const QStringList& arguments, const QString& workingDirectory);

  // --- The source list ---
  // Adds the files, refusing duplicates, unknown kinds and unreadable files with the default
  // sound. With `deselectOthers` the earlier entries are deselected; the added ones are selected
  // (entry 0 when none was added). True when at least one was added.
  bool AddFiles(const QStringList& paths, bool deselectOthers);
  const std::vector<SourceEntry>& entries() const { return entries_; }
  SourceList CurrentList() const;
  void SetSelection(const std::vector<int>& rows);
  std::vector<int> SelectedRows() const;

  // --- Commands of the panel and the toolbar (what the buttons do) ---
  void SelectFilesCommand();
  void RemoveCommand();
  void RemoveAllCommand();
  void LoadListCommand();
  void SaveListCommand();
  void BrowseCommand();
  void InfoCommand();
  void ConvertCommand();
  void HelpCommand();
  void PreferencesCommand();

  // Copies the visible pages into the selected entries; false (with the message shown) when a
  // field is invalid.
  bool CommitPages();
  // Rebuilds the page tabs and pages from the selection.
  void RefreshPages();

  // --- The conversion run ---
  bool runInProgress() const { return runInProgress_; }
  bool converting() const { return converting_; }
  // The lines of the last run's status list, kept after the run ends (the list itself is
  // emptied).
  const QStringList& lastRunLines() const { return lastRunLines_; }
  const BatchOutcome& lastOutcome() const { return lastOutcome_; }

  const Preferences& preferences() const { return preferences_; }
  HelpSystem& help() { return *help_; }
  // Help context of F1 with the pointer at `global` (a toolbar button, else the visible page).
  int HelpContextAt(const QPoint& global, bool* popup) const;

  // The preview dialogs of the later parts plug in here; their buttons stay disabled while unset.
  std::function<void(MainWindow&, int row)> openScratchPad;
  // The simple preview of a double click on an AVI or WAV entry (a window the hook makes); it
  // closes before any file dialog, run, help or exit. Unset, a double click only beeps.
  std::function<QWidget*(MainWindow&, int row)> openSimplePreview;
  void CloseSimplePreview();
  QWidget* simplePreview() const { return simplePreview_; }
  // The Select Files dialog of "S&elect..."; unset, the file chooser of the dialogs is used.
  std::function<QStringList(MainWindow&)> selectFiles;
  // Stores the sections marked for entry `row` (the Scratch Pad's "OK").
  void SetSections(int row, std::vector<Section> sections);

  // Widgets, for the tests that drive the window as a user would.
  QListWidget* fileList = nullptr;           // 1208
  QPushButton* infoButton = nullptr;         // 1202
  QPushButton* scratchButton = nullptr;      // 1203
  QPushButton* loadButton = nullptr;         // 1209
  QPushButton* saveButton = nullptr;         // 1210
  QPushButton* selectButton = nullptr;       // 1211
  QPushButton* removeButton = nullptr;       // 1212
  QPushButton* removeAllButton = nullptr;    // 1213
  QRadioButton* sameDirectory = nullptr;     // 1255
  QRadioButton* anotherDirectory = nullptr;  // 1256
  QLineEdit* directoryEdit = nullptr;        // 1254
  QPushButton* browseButton = nullptr;       // 1253
  QTabWidget* tabs = nullptr;                // 9900-9905
  AviToMpegPage* aviPage = nullptr;
  WavToMp2Page* wavPage = nullptr;
  MpegToAviPage* mpegPage = nullptr;
  Mp2ToWavPage* mp2Page = nullptr;
  QWidget* nothingPage = nullptr;
  QWidget* convertingPage = nullptr;
  QListWidget* statusList = nullptr;  // 602
  FrameView* frameView = nullptr;     // 606
  StatusStrip* strip = nullptr;
  ToolBarButton* convertButton = nullptr;  // 1000
  ToolBarButton* helpButton = nullptr;     // 1001
  ToolBarButton* exitButton = nullptr;     // 1002
  ToolBarLogo* logo = nullptr;             // 1003
  QMenu* systemMenu = nullptr;
  QMenuBar* menuBar = nullptr;

 signals:
  void runEnded();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildPanel();
  QWidget* BuildListArea();
  QWidget* BuildConvertingPage();
  void BuildSystemMenu();
  void DestinationChanged();
  void UpdateButtons();
  void ShowEntryStatus(const SourceEntry& entry);
  void SelectionChanged();
  void LimitSelection();
  bool AddOneFile(const QString& path);
  void AddListLine(const QString& path);
  void ApplyLoadedList(SourceList list);
  void DropFiles(const QList<QUrl>& urls);
  bool DirectoryFieldDrop(QEvent* event);
  void LoadSavedList();
  void SaveListAtExit();
  void ShowPageTabs(const std::vector<QWidget*>& pages);
  void Error(const QString& text);
  void AskAbort();
  void ShowHelpForF1();
  void StartRun();
  void RunThreadFinished();

  // RunView
  void RunProgress(const ProgressView& view) override;
  void RunError(const QString& text) override;
  void RunErrorSound() override;
  void RunLogLine(const QString& line) override;
  void RunTitle(const QString& title) override;
  void RunStatusField(calvex::StatusField field, const QString& text) override;
  void RunResetStatusFields() override;
  bool RunAskYesNo(const QString& question) override;
  void RunMessage(const QString& text, MessageIcon icon) override;
  void RunDoneSound() override;
  void RunOpenLogViewer(const QString& path) override;
  void RunStarted() override;
  void RunEntryStarted(int index, int count) override;
  void RunEntryFinished(int index, std::uint32_t result) override;

  MainWindowServices services_;
  UserDialogs& dialogs_;
  std::unique_ptr<HelpSystem> help_;
  Preferences preferences_;
  std::vector<SourceEntry> entries_;

  QWidget* listArea_ = nullptr;
  QPointer<QWidget> simplePreview_;
  bool initialising_ = false;
  bool selectionGuard_ = false;
  bool limitPending_ = false;       // the fall-back of a too large selection is queued
  std::vector<int> pageSelection_;  // the selection the pages show

  // The pages' merged records of the selection.
  AviToMpegParams aviPanel_{};
  WavToMp2Params wavPanel_{};
  MpegToAviParams mpegPanel_{};
  Mp2ToWavParams mp2Panel_{};

  // The run.
  bool runInProgress_ = false;
  bool converting_ = false;
  bool askingAbort_ = false;
  std::unique_ptr<GuiHost> host_;
  QThread* runThread_ = nullptr;
  std::vector<SourceEntry> runEntries_;
  BatchSettings runSettings_;
  RunFlags runFlags_;
  BatchOutcome lastOutcome_;
  QStringList lastRunLines_;
};

}  // namespace calvex::ui
