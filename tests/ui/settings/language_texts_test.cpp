#include "ui/settings/language_texts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include "tests/settings/settings_test_support.h"

namespace kestrine::ui {
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

class Languages : public test::TLanguageFolderTest {
 protected:

  TDesignedWindow FDesign;
  TLanguageDocument FDocument;
};

// Without any file the English texts compiled in apply, also to a control made without a caption.
TEST_F(Languages, WithoutFilesTheBuiltInEnglishApplies) {
  FDesign.About->setText(QString());
  TSettingsProblem error;
  EXPECT_TRUE(ApplyLanguage(QStringLiteral("English"), FDocument, FDesign.Window, &error));
  EXPECT_FALSE(error);
  EXPECT_FALSE(FDocument.Active());
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("lvDrivesColumn1")), QStringLiteral("Name"));
  EXPECT_FALSE(FDocument.LookupText(QStringLiteral("strOptionsSaved")).isEmpty());
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Wizard"));
  EXPECT_EQ(FDesign.About->text(), QStringLiteral("About"));
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
                "<mnuRecover Caption=\"Wiederherstellen\"/>\n"
                "<lvFiles Caption=\"Dateien\"/>\n"
                "<prgScanFiles Caption=\"Suchfortschritt\"/>\n");
  // Controls that show no words are named for a screen reader instead.
  auto* list = new QTreeView(&FDesign.Window);
  list->setObjectName(QStringLiteral("lvFiles"));
  auto* bar = new QProgressBar(&FDesign.Window);
  bar->setObjectName(QStringLiteral("prgScanFiles"));
  TSettingsProblem error;
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("German"), FDocument, FDesign.Window, &error)) << error.Facts.join(u' ').toStdString();
  EXPECT_TRUE(FDocument.Active());
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Assistent"));
  EXPECT_EQ(FDesign.SavePosition->text(), QStringLiteral("Position speichern"));
  EXPECT_EQ(FDesign.Title->text(), QStringLiteral("\u00dcbersicht"));
  EXPECT_EQ(FDesign.Group->title(), QStringLiteral("Zu suchende Dateien"));
  EXPECT_EQ(FDesign.Tabs->tabText(0), QStringLiteral("Laufwerke"));
  EXPECT_EQ(FDesign.Recover->text(), QStringLiteral("Wiederherstellen"));
  EXPECT_EQ(list->accessibleName(), QStringLiteral("Dateien"));
  EXPECT_EQ(bar->accessibleName(), QStringLiteral("Suchfortschritt"));
  EXPECT_TRUE(FDesign.Languages->accessibleName().isEmpty());
  // The window's caption, link labels, lists and edits keep theirs.
  EXPECT_EQ(FDesign.Window.windowTitle(), QStringLiteral("Kestrine Pro 3.0"));
  EXPECT_EQ(FDesign.Link->text(), QStringLiteral("https://kestrine.example.org/"));
  EXPECT_EQ(FDesign.Languages->currentText(), QStringLiteral("English"));
  EXPECT_EQ(FDesign.Edit->text(), QStringLiteral("*.tmp"));
}

TEST_F(Languages, EmptyOrMissingCaptionGivesTheEnglishText) {
  WriteLanguage(QStringLiteral("Sparse"),
                "<btnWizard Caption=\"\"/>\n"
                "<btnAbout Text=\"Info\"/>\n"
                "<strOptionsSaved/>\n");
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("Sparse"), FDocument, FDesign.Window));
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Wizard"));
  EXPECT_EQ(FDesign.About->text(), QStringLiteral("About"));
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("strOptionsSaved")), QStringLiteral("Your settings have been saved."));
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

// What the new language lacks is English, not a leftover of the language before.
TEST_F(Languages, MissingKeysTakeTheEnglishTexts) {
  WriteLanguage(QStringLiteral("German"),
                "<btnWizard Caption=\"Assistent\"/><btnAbout Caption=\"Info\"/><strOptionsSaved Caption=\"Gespeichert\"/>");
  WriteLanguage(QStringLiteral("French"), "<btnWizard Caption=\"Assistant\"/>");
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("German"), FDocument, FDesign.Window));
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("French"), FDocument, FDesign.Window));
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Assistant"));
  EXPECT_EQ(FDesign.About->text(), QStringLiteral("About"));
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("strOptionsSaved")), QStringLiteral("Your settings have been saved."));

  // A language whose file is gone leaves the one loaded before in force.
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("Klingon"), FDocument, FDesign.Window));
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("btnWizard")), QStringLiteral("Assistant"));
}

TEST_F(Languages, AMalformedFileLeavesTheDocumentInactiveAndSaysWhere) {
  WriteLanguage(QStringLiteral("German"), "<btnWizard Caption=\"Assistent\"/>");
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("German"), FDocument, FDesign.Window));
  WriteText(QStringLiteral("Langs/Broken.txt"), "<Language><btnAbout Caption=\"Info\"></Language>");
  TSettingsProblem error;
  EXPECT_FALSE(ApplyLanguage(QStringLiteral("Broken"), FDocument, FDesign.Window, &error));
  EXPECT_TRUE(error.Facts.join(u' ').contains(QStringLiteral("Broken.txt"))) << error.Facts.join(u' ').toStdString();
  EXPECT_FALSE(FDocument.Active());
  // The German document is gone with the failed load: English is in force.
  EXPECT_EQ(FDocument.LookupText(QStringLiteral("btnWizard")), QStringLiteral("Wizard"));
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Wizard"));
  EXPECT_EQ(FDesign.About->text(), QStringLiteral("About"));
}

TEST_F(Languages, TheDeclaredEncodingIsHonoured) {
  WriteText(QStringLiteral("Langs/German.txt"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<L><btnWizard Caption=\"Gr\xf6\xdf" "e\"/></L>\n");
  ASSERT_TRUE(ApplyLanguage(QStringLiteral("German"), FDocument, FDesign.Window));
  EXPECT_EQ(FDesign.Wizard->text(), QStringLiteral("Gr\u00f6\u00dfe"));
}

}  // namespace
}  // namespace kestrine::ui
