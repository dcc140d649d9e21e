#pragma once
// The settings suites: each test runs in a scratch folder of its own as the current directory.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace kestrine::test {

class TScratchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FFolder.isValid());
    FPrevious = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(FFolder.path()));
    FUserSettings = std::make_unique<QSettings>(FFolder.filePath(QStringLiteral("user.ini")), QSettings::IniFormat);
  }
  void TearDown() override { QDir::setCurrent(FPrevious); }

  QString Folder() const { return FFolder.path(); }
  QSettings& UserSettings() { return *FUserSettings; }

  static void WriteText(const QString& Path, const QByteArray& Text) {
    QFile file(Path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(Text), Text.size());
  }
  static QByteArray ReadText(const QString& Path) {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

 private:
  QTemporaryDir FFolder;
  QString FPrevious;
  std::unique_ptr<QSettings> FUserSettings;
};

// A scratch folder with an empty "Langs" folder, and language files written into it.
class TLanguageFolderTest : public TScratchFolderTest {
 protected:
  void SetUp() override {
    TScratchFolderTest::SetUp();
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("Langs")));
  }
  static void WriteLanguage(const QString& Name, const QByteArray& Body) {
    WriteText(QStringLiteral("Langs/") + Name + QStringLiteral(".txt"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Language>\n" + Body + "</Language>\n");
  }
};

}  // namespace kestrine::test
