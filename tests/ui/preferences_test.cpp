#include "ui/preferences.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <fstream>
#include <sstream>

#include "core/data_directory.h"
#include "support/test_support.h"
#include "ui/help.h"
#include "ui/preferences_dialog.h"
#include "ui_doubles.h"

namespace calvex::testing {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1); }
  std::string Ini() const { return dir.File("vorla.ini"); }
  TempDir dir;
};

TEST_F(PreferencesTest, MissingFileGivesTheDefaults) {
  const ui::Preferences p = ui::ReadPreferences(Ini());
  EXPECT_FALSE(p.beepDone);
  EXPECT_TRUE(p.toolTip);
  EXPECT_TRUE(p.saveWhenExit);
  EXPECT_FALSE(p.abortWhenErr);
  EXPECT_TRUE(p.logFile);
  EXPECT_FALSE(p.highQuality);
  EXPECT_EQ(p.logFileName, DefaultLogPath());
  EXPECT_EQ(p.logFileName, dir.File("data") + "/vorla.dat/tolbrek.log");
}

TEST_F(PreferencesTest, ValuesAreReadAsIntegersAndAnyNonzeroIsOn) {
  std::ofstream(Ini()) << "[Other]\nBeepDone=1\n\n[calvex]\nBeepDone = 5\nToolTip=0\n"
                          "LogFile=x\nLogFileName=/tmp/My Log.txt\n";
  const ui::Preferences p = ui::ReadPreferences(Ini());
  EXPECT_TRUE(p.beepDone);
  EXPECT_FALSE(p.toolTip);
  EXPECT_FALSE(p.logFile);
  EXPECT_TRUE(p.saveWhenExit);
  EXPECT_EQ(p.logFileName, "/tmp/My Log.txt");
}

TEST_F(PreferencesTest, WritingOneKeyLeavesEveryOtherLine) {
  std::ofstream(Ini()) << "; kept\n[Other]\nToolTip=1\n\n[Calvex]\nBeepDone=0\n\n[Last]\nA=b\n";
  ASSERT_TRUE(ui::WriteProfileString(Ini(), "Calvex", "ToolTip", "0"));
  ASSERT_TRUE(ui::WriteProfileString(Ini(), "Calvex", "BeepDone", "1"));
  EXPECT_EQ(ReadText(Ini()),
            "; kept\n[Other]\nToolTip=1\n\n[Calvex]\nBeepDone=1\nToolTip=0\n\n[Last]\nA=b\n");
  ASSERT_TRUE(ui::WriteProfileString(Ini(), "New", "K", "v"));
  EXPECT_EQ(ui::ReadProfileString(Ini(), "New", "K"), "v");
}

class PreferencesDialogTest : public PreferencesTest {
 protected:
  ui::PreferencesDialog& Dialog() {
    if (!dialog_)
      dialog_ =
          std::make_unique<ui::PreferencesDialog>(ui::ReadPreferences(Ini()), Ini(), dialogs, help);
    return *dialog_;
  }
  ScriptedDialogs dialogs;
  ui::HelpSystem help;

 private:
  std::unique_ptr<ui::PreferencesDialog> dialog_;
};

TEST_F(PreferencesDialogTest, ChangingOnlyToolTipsWritesOnlyThatKey) {
  Dialog().toolTip->click();
  Dialog().okButton->click();
  EXPECT_FALSE(Dialog().result().toolTip);
  EXPECT_EQ(ReadText(Ini()), "[Calvex]\nToolTip=0\n");
}

TEST_F(PreferencesDialogTest, HighQualityEncodingIsAKeyOfItsOwn) {
  Dialog().highQuality->click();
  Dialog().okButton->click();
  EXPECT_TRUE(Dialog().result().highQuality);
  EXPECT_EQ(ReadText(Ini()), "[Calvex]\nHighQuality=1\n");
  EXPECT_TRUE(ui::ReadPreferences(Ini()).highQuality);
}

TEST_F(PreferencesDialogTest, ConfirmingUnchangedValuesWritesNothing) {
  Dialog().okButton->click();
  EXPECT_FALSE(std::filesystem::exists(Ini()));
}

TEST_F(PreferencesDialogTest, CancelChangesNothing) {
  Dialog().beepDone->click();
  Dialog().cancelButton->click();
  EXPECT_FALSE(Dialog().result().beepDone);
  EXPECT_FALSE(std::filesystem::exists(Ini()));
}

TEST_F(PreferencesDialogTest, LogFileEditFollowsItsBox) {
  EXPECT_TRUE(Dialog().logFileName->isEnabled());
  Dialog().logFile->click();
  EXPECT_FALSE(Dialog().logFileName->isEnabled());
}

TEST_F(PreferencesDialogTest, AnUncreatableLogNameKeepsTheDialogOpenAndSavesNothing) {
  const std::string bad = dir.File("missing") + "/run.log";
  Dialog().show();
  Dialog().logFileName->setText(QString::fromStdString(bad));
  Dialog().beepDone->click();
  Dialog().okButton->click();
  EXPECT_TRUE(Dialog().isVisible());
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_EQ(dialogs.messages[0].toStdString(), "exclamation: Unable to create file. " + bad);
  EXPECT_FALSE(std::filesystem::exists(Ini()));
}

TEST_F(PreferencesDialogTest, ANewLogNameIsTestedAndWritten) {
  const std::string name = dir.File("Run Log.TXT");
  Dialog().logFileName->setText(QString::fromStdString(name));
  Dialog().okButton->click();
  EXPECT_EQ(Dialog().result().logFileName, name);
  EXPECT_FALSE(std::filesystem::exists(name));  // the test file is gone again
  EXPECT_EQ(ReadText(Ini()), "[Calvex]\nLogFileName=" + name + "\n");
  EXPECT_EQ(ui::ReadPreferences(Ini()).logFileName, name);
}

}  // namespace
}  // namespace calvex::testing
