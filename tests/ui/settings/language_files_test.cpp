#include "settings/language_files.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QSet>
#include <QDomDocument>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "settings_test_support.h"

namespace kestrine {
namespace {

// A window with one component of each kind, named as language keys, showing its designed texts.
struct TDesignedWindow {
  TDesignedWindow() {
    Window.setObjectName(QStringLiteral("frmOrvik"));
    Window.setWindowTitle(QStringLiteral("Kestrine Pro 3.0"));
    auto* layout = new QVBoxLayout(&Window);
    Wizard = Add<QPushButton>(layout, "btnWizard", "Wizard");
    About = Add<QPushButton>(layout, "btnAbout", "About");
    SavePosition = Add<QCheckBox>(layout, "chkSaveFormPosition", "Save current Window's positions");
    Title = Add<QLabel>(layout, "lblWizardTitle", "Wizard");
    Link = Add<QLabel>(layout, "lblHomepage", "https://kestrine.example.org/");
    Link->setOpenExternalLinks(true);
    Group = new QGroupBox(QStringLiteral("Files to search for"), &Window);
    Group->setObjectName(QStringLiteral("gbDiskCleanupFilesToSearch"));
    layout->addWidget(Group);
    Languages = Add<QComboBox>(layout, "cboxLanguages", "");
    Languages->addItem(QStringLiteral("English"));
    Edit = Add<QLineEdit>(layout, "edtMask", "*.tmp");
    Tabs = new QTabWidget(&Window);
    layout->addWidget(Tabs);
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsWizardDrives"));
    Tabs->addTab(page, QStringLiteral("Drives"));
    Menu = new QMenu(QStringLiteral("Files"), &Window);
    Menu->setObjectName(QStringLiteral("pmFiles"));
    Recover = Menu->addAction(QStringLiteral("Recover"));
    Recover->setObjectName(QStringLiteral("mnuRecover"));
  }

  template <typename T>
  T* Add(QVBoxLayout* Layout, const char* Name, const char* Text) {
    auto* widget = new T(&Window);
    widget->setObjectName(QString::fromLatin1(Name));
    if constexpr (std::is_same_v<T, QComboBox>) {
      // no designed text
    } else {
      widget->setText(QString::fromUtf8(Text));
    }
    Layout->addWidget(widget);
    return widget;
  }

  QWidget Window;
  QPushButton* Wizard;
  QPushButton* About;
  QCheckBox* SavePosition;
  QLabel* Title;
  QLabel* Link;
  QGroupBox* Group;
  QComboBox* Languages;
  QLineEdit* Edit;
  QTabWidget* Tabs;
  QMenu* Menu;
  QAction* Recover;
};

class Languages : public test::TScratchFolderTest {
 protected:
  void SetUp() override {
    TScratchFolderTest::SetUp();
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("Langs")));
  }
  static void WriteLanguage(const QString& Name, const QByteArray& Body) {
    WriteText(QStringLiteral("Langs/") + Name + QStringLiteral(".txt"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Language>\n" + Body + "</Language>\n");
  }

  TDesignedWindow FDesign;
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

  ASSERT_TRUE(QDir().mkdir(QStringLiteral("Skins")));
  EXPECT_TRUE(ListSkins().isEmpty());
  WriteText(QStringLiteral("Skins/Dark.skn"), "");
  WriteText(QStringLiteral("Skins/Light.qss"), "");
  EXPECT_EQ(ListSkins(), QStringList{QStringLiteral("Dark")});
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
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("English"), FDocument, FDesign.Window));
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Installed"));
}

TEST_F(Languages, WithoutFilesEveryTextStaysAndLookupsAreEmpty) {
  QString error;
  EXPECT_TRUE(ApplyLanguage(QStringLiteral("English"), FDocument, FDesign.Window, &error));
  EXPECT_TRUE(error.isEmpty());
  EXPECT_FALSE(FDocument.Active());
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("lvDrivesColumn1")), QString());
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("strOptionsSaved")), QString());
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Wizard"));
  EXPECT_EQ(FDesign.Group->title(), QStringLiteral("Files to search for"));
  EXPECT_EQ(FDesign.Recover->text(), QStringLiteral("Recover"));
}

TEST_F(Languages, TextsGoToCaptionsOfTheirKindOnly) {
  WriteLanguage(QStringLiteral("German"),
                "<frmOrvik Caption=\"Fenster\"/>\n"
                "<btnWizard Caption=\"Assistent\"/>\n"
                "<chkSaveFormPosition Caption=\"Position speichern\"/>\n"
                "<lblWizardTitle Caption=\"\u00dcbersicht\"/>\n"
                "<lblHomepage Caption=\"Webseite\"/>\n"
                "<gbDiskCleanupFilesToSearch Caption=\"Zu suchende Dateien\"/>\n"
                "<cboxLanguages Caption=\"Sprachen\"/>\n"
                "<edtMask Caption=\"Maske\"/>\n"
                "<tsWizardDrives Caption=\"Laufwerke\"/>\n"
                "<pmFiles Caption=\"Dateien\"/>\n"
                "<mnuRecover Caption=\"Wiederherstellen\"/>\n");
  QString error;
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("German"), FDocument, FDesign.Window, &error)) << error.toStdString();
  EXPECT_TRUE(FDocument.Active());
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Assistent"));
  EXPECT_EQ(FDesign.SavePosition->text(), QStringLiteral("Position speichern"));
  EXPECT_EQ(FDesign.Title->text(), QStringLiteral("\u00dcbersicht"));
  EXPECT_EQ(FDesign.Group->title(), QStringLiteral("Zu suchende Dateien"));
  EXPECT_EQ(FDesign.Tabs->tabText(0), QStringLiteral("Laufwerke"));
  EXPECT_EQ(FDesign.Recover->text(), QStringLiteral("Wiederherstellen"));
  // The window's caption, link labels, lists and edits keep theirs.
  EXPECT_EQ(FDesign.Window.windowTitle(), QStringLiteral("Kestrine Pro 3.0"));
  EXPECT_EQ(FDesign.Link->text(), QStringLiteral("https://kestrine.example.org/"));
  EXPECT_EQ(FDesign.Languages->currentText(), QStringLiteral("English"));
  EXPECT_EQ(FDesign.Edit->text(), QStringLiteral("*.tmp"));
}

TEST_F(Languages, EmptyOrMissingCaptionKeepsTheDesignedText) {
  WriteLanguage(QStringLiteral("Sparse"),
                "<btnWizard Caption=\"\"/>\n"
                "<btnAbout Text=\"Info\"/>\n"
                "<strOptionsSaved/>\n");
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("Sparse"), FDocument, FDesign.Window));
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Wizard"));
  EXPECT_EQ(FDesign.About->text(), QStringLiteral("About"));
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("strOptionsSaved")), QString());
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("btnAbout"), QStringLiteral("Text")), QStringLiteral("Info"));
}

TEST_F(Languages, TheFirstOfTwoElementsCountsAndNamesMatchExactly) {
  WriteLanguage(QStringLiteral("Twice"),
                "<BTNWIZARD Caption=\"upper\"/>\n"
                "<btnWizard Caption=\"First\"><btnAbout Caption=\"nested\"/></btnWizard>\n"
                "<btnWizard Caption=\"Second\"/>\n");
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("Twice"), FDocument, FDesign.Window));
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("First"));
  EXPECT_EQ(FDesign.About->text(), QStringLiteral("About"));  // only the root's children are keys
}

TEST_F(Languages, MissingKeysKeepThePreviousLanguagesTexts) {
  WriteLanguage(QStringLiteral("German"),
                "<btnWizard Caption=\"Assistent\"/><btnAbout Caption=\"Info\"/><strOptionsSaved Caption=\"Gespeichert\"/>");
  WriteLanguage(QStringLiteral("French"), "<btnWizard Caption=\"Assistant\"/>");
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("German"), FDocument, FDesign.Window));
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("French"), FDocument, FDesign.Window));
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Assistant"));
  EXPECT_EQ(FDesign.About->text(), QStringLiteral("Info"));
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("strOptionsSaved")), QString());  // messages come from French now

  // A language whose file is gone leaves the one loaded before in force.
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("Klingon"), FDocument, FDesign.Window));
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("btnWizard")), QStringLiteral("Assistant"));
}

TEST_F(Languages, AMalformedFileLeavesTheDocumentInactiveAndSaysWhere) {
  WriteLanguage(QStringLiteral("German"), "<btnWizard Caption=\"Assistent\"/>");
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("German"), FDocument, FDesign.Window));
  WriteText(QStringLiteral("Langs/Broken.txt"), "<Language><btnAbout Caption=\"Info\"></Language>");
  QString error;
  EXPECT_FALSE(ApplyLanguage(QStringLiteral("Broken"), FDocument, FDesign.Window, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("Broken.txt"))) << error.toStdString();
  EXPECT_FALSE(FDocument.Active());
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("btnWizard")), QString());
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Assistent"));
  EXPECT_EQ(FDesign.About->text(), QStringLiteral("About"));
}

TEST_F(Languages, TheDeclaredEncodingIsHonoured) {
  WriteText(QStringLiteral("Langs/German.txt"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<L><btnWizard Caption=\"Gr\xf6\xdf" "e\"/></L>\n");
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("German"), FDocument, FDesign.Window));
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Gr\u00f6\u00dfe"));
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
