#include "ui/settings/text_keys.h"

#include <QDomDocument>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace kestrine::ui {
namespace {

QDomElement LanguageRoot(const QString& Name) {
  QFile file(QStringLiteral(KESTRINE_DATA_SOURCE "/Langs/") + Name + QStringLiteral(".txt"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << Name.toStdString();
  QDomDocument document;
  EXPECT_TRUE(document.setContent(file.readAll())) << Name.toStdString();
  return document.documentElement();
}

// The %1, %2... a text fills in: a translation that drops or adds one shows a wrong number.
QSet<QString> Placeholders(const QString& Text) {
  static const QRegularExpression placeholder(QStringLiteral("%\\d"));
  QSet<QString> found;
  for (const QRegularExpressionMatch& m : placeholder.globalMatch(Text)) found.insert(m.captured());
  return found;
}

// Every key the code looks a message up by is in every shipped language, with the same numbers.
TEST(TextKeys, EveryLanguageHasEveryKeyTheCodeAsksFor) {
  const QDomElement english = LanguageRoot(QStringLiteral("English"));
  for (const QString& language : {QStringLiteral("English"), QStringLiteral("German"), QStringLiteral("French")}) {
    const QDomElement root = LanguageRoot(language);
    for (std::size_t i = 0; i < kTextKeys.size(); ++i) {
      const QString key = TextKey(static_cast<TText>(i));
      const QString text = root.firstChildElement(key).attribute(QStringLiteral("Caption"));
      EXPECT_FALSE(text.isEmpty()) << language.toStdString() << " lacks " << key.toStdString();
      EXPECT_EQ(Placeholders(text), Placeholders(english.firstChildElement(key).attribute(QStringLiteral("Caption"))))
          << language.toStdString() << ": " << key.toStdString();
    }
  }
}

TEST(TextKeys, NamesAreDistinctAndLookedUpOverEnglish) {
  QSet<QString> names;
  for (std::size_t i = 0; i < kTextKeys.size(); ++i) names.insert(TextKey(static_cast<TText>(i)));
  EXPECT_EQ(static_cast<std::size_t>(names.size()), kTextKeys.size());
  const TLanguageDocument english;
  EXPECT_EQ(Text(english, TText::strFoundFiles).arg(3), QStringLiteral("Found: 3 file(s)"));
}

}  // namespace
}  // namespace kestrine::ui
