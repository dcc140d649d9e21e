#include "settings/language_files.h"

#include <QSet>
#include <QDomDocument>

#include "tests/settings/settings_test_support.h"

namespace kestrine {
namespace {

class Languages : public test::TLanguageFolderTest {
 protected:

  TLanguageDocument FDocument;
};

TEST_F(Languages, ListedByNameWithoutExtensionHiddenAndOtherFilesLeftOut) {
  EXPECT_EQ(LangsFolder(), QStringLiteral("Langs"));
  EXPECT_TRUE(ListLanguages().isEmpty());
  for (const char* name : {"Langs/German.txt", "Langs/english.txt", "Langs/.Secret.txt", "Langs/notes.md",
                           "Langs/French.txt.orig"})
    WriteText(QString::fromLatin1(name), "<L/>");
  ASSERT_TRUE(QDir().mkdir(QStringLiteral("Langs/Folder.txt")));
  EXPECT_EQ(ListLanguages(), (QStringList{QStringLiteral("english"), QStringLiteral("German")}));

  // The built-in skin is listed in its place whether or not a file carries its name.
  ASSERT_TRUE(QDir().mkdir(QStringLiteral("Skins")));
  EXPECT_EQ(ListSkins(), QStringList{QStringLiteral("Light")});
  WriteText(QStringLiteral("Skins/Dark.skn"), "");
  WriteText(QStringLiteral("Skins/Light.qss"), "");
  WriteText(QStringLiteral("Skins/Mono.skn"), "");
  EXPECT_EQ(ListSkins(), (QStringList{QStringLiteral("Dark"), QStringLiteral("Light"), QStringLiteral("Mono")}));
  WriteText(QStringLiteral("Skins/light.skn"), "");
  EXPECT_EQ(ListSkins(), (QStringList{QStringLiteral("Dark"), QStringLiteral("light"), QStringLiteral("Mono")}));
}

// No text is ever empty: what no file gives, the English compiled into the program does.
TEST_F(Languages, TheBuiltInEnglishFillsWhatNoFileGives) {
  EXPECT_FALSE(FDocument.Active());
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("lvDrivesColumn1")), QStringLiteral("Name"));
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("strOptionsSaved")), QStringLiteral("Your settings have been saved."));
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("noSuchKey")), QString());
}

// An environment variable for the length of a test.
class TScopedVariable {
 public:
  TScopedVariable(const char* Name, const QString& Value) : FName(Name), FPrevious(qgetenv(Name)) {
    qputenv(Name, Value.toUtf8());
  }
  ~TScopedVariable() {
    if (FPrevious.isNull())
      qunsetenv(FName);
    else
      qputenv(FName, FPrevious);
  }
  TScopedVariable(const TScopedVariable&) = delete;
  TScopedVariable& operator=(const TScopedVariable&) = delete;

 private:
  const char* FName;
  QByteArray FPrevious;
};

// An installed program run from elsewhere finds its data in the XDG data folders.
TEST_F(Languages, WithoutAFolderHereTheInstalledOneIsUsed) {
  const TScopedVariable dataHome("XDG_DATA_HOME", Folder() + QStringLiteral("/xdg"));
  const QString installed = Folder() + QStringLiteral("/xdg/kestrine/Langs");
  ASSERT_TRUE(QDir().mkpath(installed));
  WriteText(installed + QStringLiteral("/English.txt"), "<L><btnWizard Caption=\"Installed\"/></L>");
  WriteText(QStringLiteral("Langs/English.txt"), "<L><btnWizard Caption=\"Here\"/></L>");

  EXPECT_EQ(LangsFolder(), QStringLiteral("Langs"));  // the current directory's folder wins
  ASSERT_TRUE(QDir(QStringLiteral("Langs")).removeRecursively());
  WriteText(QStringLiteral("Langs"), "a file, not a folder");
  EXPECT_EQ(QDir(LangsFolder()).canonicalPath(), QDir(installed).canonicalPath());
  EXPECT_EQ(ListLanguages(), QStringList{QStringLiteral("English")});
  ASSERT_TRUE(FDocument.Load(LangsFolder() + QStringLiteral("/English.txt")));
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("btnWizard")), QStringLiteral("Installed"));
}

// The language files the program ships.
class ShippedLanguages : public ::testing::Test {
 protected:
  static QDomElement Root(const QString& Name) {
    QFile file(QStringLiteral(KESTRINE_DATA_SOURCE "/Langs/") + Name + QStringLiteral(".txt"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << Name.toStdString();
    QDomDocument document;
    QString error;
    EXPECT_TRUE(document.setContent(file.readAll(), &error)) << Name.toStdString() << ": " << error.toStdString();
    return document.documentElement();
  }
  static QStringList Keys(const QDomElement& Root) {
    QStringList keys;
    for (QDomElement e = Root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) keys.append(e.tagName());
    return keys;
  }
};

TEST_F(ShippedLanguages, EnglishGivesTheDesignedTexts) {
  const QDomElement english = Root(QStringLiteral("English"));
  const std::pair<const char*, const char*> designed[] = {
      {"btnWizard", "Wizard"},
      {"btnAbout", "About"},
      {"btnOptions", "Options"},
      {"btnHelp", "Help"},
      {"btnDiskCleanup", "Disk Cleanup"},
      {"btnNextDrives", "&Next"},
      {"btnRefreshDrives", "Refresh"},
      {"btnStartScan", "Start"},
      {"btnStopScan", "Stop"},
      {"btnRecover", "Recover"},
      {"btnPreview", "Preview"},
      {"btnBackToWizard", "&Back"},
      {"btnFilter", "Filter"},
      {"btnSaveOptions", "&Save"},
      {"chkSaveFormPosition", "Save current Window's positions"},
      {"btnRefreshDiskCleanup", "Refresh"},
      {"btnNextDiskCleanupDrives", "&Next"},
      {"btnDiskCleanupAdd", "Add"},
      {"btnDiskCleanupEdit", "Edit"},
      {"btnDiskCleanupDelete", "Delete"},
      {"btnDiskCleanupDefault", "Default"},
      {"gbDiskCleanupFilesToSearch", "Files to search for"},
      {"btnDiskCleanupStart", "Start"},
      {"btnDiskCleanupStop", "Stop"},
      {"btnDiskCleanupBack", "&Back"},
      {"btnDiskCleanupNext", "&Next"},
      {"btnDiskCleanupScanResultsBack", "&Back"},
      {"btnDiskCleanupScanResultsWipe", "Wipe"},
      {"btnDiskCleanupScanResultsDelete", "Delete"},
      {"pnlDiskCleanupScanning", "Scanning"},
      {"Restore1", "Restore"},
      {"Close1", "Close"},
      {"mnuRecover", "Recover"},
      {"mnuPreview", "Preview"},
      {"lblLanguages", "Languages:"},
      {"lblSkins", "Skins:"},
      {"lblWizardTitle", "Wizard"},
      {"lblWizardText", "Select location of deleted files."},
      {"lblResultsTitle", "Scan Results"},
      {"lblResultsText", "Select files you want to recover."},
      {"lblOptionsTitle", "Options"},
      {"lblOptionsText", "Program's configurations."},
      {"lblAboutTitle", "About"},
      {"gbScanning", "Scanning"},
      {"lblFolders", "Folders"},
      {"lvDrivesColumn1", "Name"},
      {"lvDrivesColumn2", "Total Size"},
      {"lvDrivesColumn3", "Free Space"},
      {"lvDrivesColumn4", "Type"},
      {"lvFilesColumn1", "File Name"},
      {"lvFilesColumn2", "Type"},
      {"lvFilesColumn3", "Size"},
      {"lvFilesColumn4", "Status"},
      {"lvFilesColumn5", "Modified"},
      {"lvFilesColumn6", "Created"},
  };
  for (const auto& [key, text] : designed)
    EXPECT_EQ(english.firstChildElement(QString::fromLatin1(key)).attribute(QStringLiteral("Caption")),
              QString::fromUtf8(text))
        << key;
  for (const char* message :
       {"strNoDriveSelected", "strOptionsSaved", "strPressNextToRecover", "strRecoveryCompleted", "strTrayRunning"})
    EXPECT_FALSE(english.firstChildElement(QString::fromLatin1(message)).attribute(QStringLiteral("Caption")).isEmpty())
        << message;
}

TEST_F(ShippedLanguages, EveryLanguageHasEveryKeyOnceWithAText) {
  const QStringList englishKeys = Keys(Root(QStringLiteral("English")));
  ASSERT_FALSE(englishKeys.isEmpty());
  EXPECT_EQ(QSet<QString>(englishKeys.begin(), englishKeys.end()).size(), englishKeys.size());
  for (const QString& name : {QStringLiteral("English"), QStringLiteral("German"), QStringLiteral("French")}) {
    const QDomElement root = Root(name);
    EXPECT_EQ(Keys(root), englishKeys) << name.toStdString();
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
      EXPECT_FALSE(e.attribute(QStringLiteral("Caption")).trimmed().isEmpty())
          << name.toStdString() << ": " << e.tagName().toStdString();
  }
}

TEST_F(ShippedLanguages, TheBuildFolderHoldsThemForAProgramRunFromThere) {
  for (const QString& name : {QStringLiteral("English"), QStringLiteral("German"), QStringLiteral("French")}) {
    QFile source(QStringLiteral(KESTRINE_DATA_SOURCE "/Langs/") + name + QStringLiteral(".txt"));
    QFile built(QStringLiteral(KESTRINE_DATA_BUILD "/Langs/") + name + QStringLiteral(".txt"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    ASSERT_TRUE(built.open(QIODevice::ReadOnly)) << built.fileName().toStdString();
    EXPECT_EQ(built.readAll(), source.readAll());
  }
}

}  // namespace
}  // namespace kestrine
