#include "settings/settings_store.h"

#include <QDomDocument>

#include "tests/settings/settings_test_support.h"

namespace kestrine {
namespace {

using ConfigStore = test::TScratchFolderTest;
using UserValues = test::TScratchFolderTest;

const QString kConfig = QStringLiteral("Config.txt");

QDomElement RootOf(const QByteArray& Text) {
  QDomDocument document;
  EXPECT_TRUE(document.setContent(Text));
  return document.documentElement();
}

TEST_F(ConfigStore, FirstStartWritesOnlyTheMasksAtClose) {
  TConfigStore store;
  store.Load(kConfig);
  EXPECT_FALSE(store.Problem());
  EXPECT_FALSE(store.HasSaveFormPosition());
  EXPECT_FALSE(store.SaveFormPosition());
  EXPECT_TRUE(store.SaveFileExtensions().isEmpty());
  EXPECT_FALSE(QFile::exists(kConfig));  // loading creates nothing

  store.SetSaveFileExtensions({});
  ASSERT_TRUE(store.Save()) << store.Problem().Facts.join(u' ').toStdString();
  const QDomElement root = RootOf(ReadText(kConfig));
  EXPECT_EQ(root.tagName(), QStringLiteral("Duskfern"));
  ASSERT_EQ(root.attributes().count(), 1);
  EXPECT_TRUE(root.hasAttribute(QStringLiteral("SaveFileExtensions")));
  EXPECT_EQ(root.attribute(QStringLiteral("SaveFileExtensions")), QString());
}

TEST_F(ConfigStore, SaveFormPositionOnlyOnceSetAndReadBack) {
  TConfigStore store;
  store.Load(kConfig);
  store.SetSaveFormPosition(true);
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(RootOf(ReadText(kConfig)).attribute(QStringLiteral("SaveFormPosition")), QStringLiteral("True"));

  TConfigStore reloaded;
  reloaded.Load(kConfig);
  EXPECT_TRUE(reloaded.HasSaveFormPosition());
  EXPECT_TRUE(reloaded.SaveFormPosition());
  reloaded.SetSaveFormPosition(false);
  EXPECT_FALSE(reloaded.SaveFormPosition());

  // Written by hand in another case, or as a number.
  WriteText(kConfig, "<Duskfern SaveFormPosition=\"TRUE\"/>");
  reloaded.Load(kConfig);
  EXPECT_TRUE(reloaded.SaveFormPosition());
  WriteText(kConfig, "<Duskfern SaveFormPosition=\"0\"/>");
  reloaded.Load(kConfig);
  EXPECT_FALSE(reloaded.SaveFormPosition());
}

TEST_F(ConfigStore, MaskLinesSurviveASaveAndLoad) {
  const QStringList masks{QStringLiteral("*.tmp"), QString(), QStringLiteral("*.~*"), QStringLiteral("my file.$$$"),
                          QStringLiteral("\u00e4*.bak")};
  TConfigStore store;
  store.Load(kConfig);
  store.SetSaveFileExtensions(masks);
  ASSERT_TRUE(store.Save());

  TConfigStore reloaded;
  reloaded.Load(kConfig);
  EXPECT_EQ(reloaded.SaveFileExtensions(), masks);
  // Every line, the last one too, ends in CR LF.
  EXPECT_EQ(RootOf(ReadText(kConfig)).attribute(QStringLiteral("SaveFileExtensions")),
            QStringLiteral("*.tmp\r\n\r\n*.~*\r\nmy file.$$$\r\n\u00e4*.bak\r\n"));
}

TEST_F(ConfigStore, MaskTextSplitsAtAnyLineBreak) {
  struct Case {
    const char* Attribute;
    QStringList Lines;
  };
  const Case cases[] = {
      {"a&#13;&#10;b&#10;c&#13;d&#13;&#10;", {"a", "b", "c", "d"}},
      {"a&#13;&#10;b", {"a", "b"}},                // no final break
      {"&#13;&#10;", {""}},                         // one empty row
      {"&#13;&#10;&#13;&#10;x&#13;&#10;", {"", "", "x"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    WriteText(kConfig, QByteArray("<Duskfern SaveFileExtensions=\"") + c.Attribute + "\"/>");
    TConfigStore store;
    store.Load(kConfig);
    EXPECT_TRUE(store.HasSaveFileExtensions());
    EXPECT_EQ(store.SaveFileExtensions(), c.Lines) << c.Attribute;
  }
}

TEST_F(ConfigStore, MalformedFileIsKeptAsideAndDefaultsUsed) {
  const QByteArray broken = "<Duskfern SaveFormPosition=\"True\"";
  WriteText(kConfig, broken);
  WriteText(kConfig + QStringLiteral(".bad"), "an older broken file");
  TConfigStore store;
  store.Load(kConfig);
  EXPECT_EQ(store.Problem().Kind, TSettingsProblemKind::ConfigMalformedKept);
  EXPECT_TRUE(store.Problem().Facts.last().endsWith(QStringLiteral("Config.txt.bad")))
      << store.Problem().Facts.join(u' ').toStdString();
  EXPECT_FALSE(QFile::exists(kConfig));
  EXPECT_EQ(ReadText(kConfig + QStringLiteral(".bad")), broken);
  EXPECT_FALSE(store.HasSaveFormPosition());
  EXPECT_FALSE(store.HasSaveFileExtensions());

  store.SetSaveFileExtensions({QStringLiteral("*.tmp")});
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(RootOf(ReadText(kConfig)).tagName(), QStringLiteral("Duskfern"));
  EXPECT_EQ(ReadText(kConfig + QStringLiteral(".bad")), broken);

  // An empty file is no document either.
  WriteText(kConfig, "");
  store.Load(kConfig);
  EXPECT_TRUE(store.Problem());
  EXPECT_TRUE(ReadText(kConfig + QStringLiteral(".bad")).isEmpty());
}

TEST_F(ConfigStore, EverythingElseIsWrittenBackAsLoaded) {
  WriteText(kConfig,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Settings Owner=\"Ren\u00e9e\" SaveFormPosition=\"False\">\n"
            "  <!-- kept -->\n"
            "  <Window Left=\"3\"><Note>text &amp; more</Note></Window>\n"
            "</Settings>\n");
  TConfigStore store;
  store.Load(kConfig);
  ASSERT_FALSE(store.Problem());
  EXPECT_TRUE(store.HasSaveFormPosition());  // the root's name is not examined
  store.SetSaveFileExtensions({QStringLiteral("*.log")});
  store.SetSaveFormPosition(true);
  ASSERT_TRUE(store.Save());

  QDomDocument saved;
  ASSERT_TRUE(saved.setContent(ReadText(kConfig)));
  const QDomElement root = saved.documentElement();
  EXPECT_EQ(root.tagName(), QStringLiteral("Settings"));
  EXPECT_EQ(root.attribute(QStringLiteral("Owner")), QStringLiteral("Ren\u00e9e"));
  EXPECT_EQ(root.attribute(QStringLiteral("SaveFormPosition")), QStringLiteral("True"));
  EXPECT_EQ(root.attribute(QStringLiteral("SaveFileExtensions")), QStringLiteral("*.log\r\n"));
  EXPECT_EQ(root.firstChild().nodeType(), QDomNode::CommentNode);
  const QDomElement window = root.firstChildElement(QStringLiteral("Window"));
  EXPECT_EQ(window.attribute(QStringLiteral("Left")), QStringLiteral("3"));
  EXPECT_EQ(window.firstChildElement(QStringLiteral("Note")).text(), QStringLiteral("text & more"));
}

TEST_F(ConfigStore, SaveReportsAFileThatCannotBeWritten) {
  TConfigStore store;
  store.Load(QStringLiteral("missing-folder/Config.txt"));
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(store.Problem().Kind, TSettingsProblemKind::ConfigUnwritable);
  EXPECT_TRUE(store.Problem().Facts.first().contains(QStringLiteral("missing-folder/Config.txt")));
}

TEST_F(UserValues, LanguageAndSkinWithTheirDefaults) {
  EXPECT_EQ(ReadLanguageSetting(UserSettings()), QStringLiteral("English"));
  EXPECT_EQ(ReadSkinSetting(UserSettings()), QString());
  WriteLanguageSetting(UserSettings(), QStringLiteral("German"));
  WriteSkinSetting(UserSettings(), QStringLiteral("Dark"));
  UserSettings().sync();
  QSettings again(UserSettings().fileName(), QSettings::IniFormat);
  EXPECT_EQ(ReadLanguageSetting(again), QStringLiteral("German"));
  EXPECT_EQ(ReadSkinSetting(again), QStringLiteral("Dark"));
  EXPECT_EQ(again.value(QStringLiteral("Lang")).toString(), QStringLiteral("German"));
  EXPECT_EQ(again.value(QStringLiteral("Skin")).toString(), QStringLiteral("Dark"));
}

}  // namespace
}  // namespace kestrine
