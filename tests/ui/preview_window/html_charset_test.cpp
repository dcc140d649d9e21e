// The character set of a page shown from its bytes alone.
#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>

#include "ui/preview/html_charset.h"

namespace kestrine::ui {
namespace {

TEST(HtmlCharset, DeclarationsInMetaElementsAndXmlAreFound) {
  EXPECT_EQ(DeclaredCharset("<html><head><META CharSet='UTF-8'>"), "utf-8");
  EXPECT_EQ(DeclaredCharset("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Windows-1251\">"),
            "windows-1251");
  EXPECT_EQ(DeclaredCharset("  <?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><html>"), "iso-8859-1");
  EXPECT_EQ(DeclaredCharset("<html><body>charset=utf-8 in the text is no declaration</body>"), "");
  EXPECT_EQ(DeclaredCharset("<meta name=\"viewport\" content=\"width=device-width\">"), "");
  // Only the start of a page counts.
  EXPECT_EQ(DeclaredCharset(QByteArray(9000, ' ') + "<meta charset=koi8-r>"), "");
}

TEST(HtmlCharset, TheDeclarationDecidesUnlessAByteOrderMarkSaysOtherwise) {
  // 0x93 and 0x94 are curly quotes in windows-1252, which Latin-1 and ASCII labels mean.
  const THtmlText latin = DecodeHtml("<meta charset=iso-8859-1><p>\x93q\x94 caf\xE9</p>");
  EXPECT_EQ(latin.Source, TCharsetSource::Declaration);
  EXPECT_EQ(latin.Charset, u"windows-1252");
  EXPECT_TRUE(latin.Html.contains(QString::fromUtf8("\u201Cq\u201D caf\u00E9")));

  const THtmlText utf8 = DecodeHtml("<meta charset=\"utf-8\"><p>caf\xC3\xA9</p>");
  EXPECT_EQ(utf8.Source, TCharsetSource::Declaration);
  EXPECT_TRUE(utf8.Html.contains(QString::fromUtf8("caf\u00E9")));

  // Cyrillic in windows-1251: "Привет".
  const THtmlText cyrillic =
      DecodeHtml("<meta http-equiv=content-type content='text/html; charset=windows-1251'>\xCF\xF0\xE8\xE2\xE5\xF2");
  EXPECT_EQ(cyrillic.Charset, u"windows-1251");
  EXPECT_TRUE(cyrillic.Html.endsWith(QString::fromUtf8("\u041F\u0440\u0438\u0432\u0435\u0442")));

  const THtmlText bom = DecodeHtml("\xEF\xBB\xBF<meta charset=iso-8859-1>caf\xC3\xA9");
  EXPECT_EQ(bom.Source, TCharsetSource::ByteOrderMark);
  EXPECT_TRUE(bom.Html.endsWith(QString::fromUtf8("caf\u00E9")));
  EXPECT_FALSE(bom.Html.startsWith(QChar(0xFEFF)));

  const QString wide = QStringLiteral("<p>wide</p>");
  const THtmlText utf16 = DecodeHtml(QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2));
  EXPECT_EQ(utf16.Charset, u"UTF-16LE");
  EXPECT_EQ(utf16.Html, wide);
}

TEST(HtmlCharset, WithoutADeclarationTheBytesDecide) {
  const THtmlText utf8 = DecodeHtml("<p>na\xC3\xAFve \xE2\x82\xAC</p>");
  EXPECT_EQ(utf8.Source, TCharsetSource::Content);
  EXPECT_EQ(utf8.Charset, u"UTF-8");
  EXPECT_TRUE(utf8.Html.contains(QString::fromUtf8("na\u00EFve \u20AC")));

  const THtmlText legacy = DecodeHtml("<p>na\xEFve \x80</p>");
  EXPECT_EQ(legacy.Charset, u"windows-1252");
  EXPECT_TRUE(legacy.Html.contains(QString::fromUtf8("na\u00EFve \u20AC")));

  // A set this build does not know is no reason to show mojibake: the bytes decide.
  const THtmlText unknown = DecodeHtml("<meta charset=x-no-such-set><p>\xC3\xA9</p>");
  EXPECT_EQ(unknown.Source, TCharsetSource::Content);
  EXPECT_TRUE(unknown.Html.contains(QChar(0xE9)));

  // UTF-16 without a mark, recognised by its first character.
  const QString wide = QStringLiteral("<html>x</html>");
  EXPECT_EQ(DecodeHtml(QByteArray(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2)).Html, wide);
}

TEST(HtmlCharset, AFileCutInTheMiddleOfACharacterIsStillUtf8) {
  const QByteArray cut("<p>\xE2\x82\xAC\xE2\x82");
  EXPECT_TRUE(IsValidUtf8(cut, true));
  EXPECT_FALSE(IsValidUtf8(cut, false));
  EXPECT_EQ(DecodeHtml(cut, true).Charset, u"UTF-8");
  EXPECT_EQ(DecodeHtml(cut, false).Charset, u"windows-1252");
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF", true));  // an overlong form is no UTF-8
  EXPECT_EQ(DecodeWindows1252("\x80\x81\x9F\xA0\xFF"), QString::fromUtf8("\u20AC\u0081\u0178\u00A0\u00FF"));
}

TEST(HtmlCharset, LongWordsGetBreaksButMarkupStaysWhole) {
  const QChar zwsp(0x200B);
  auto runs = [&](const QString& Text) {
    int longest = 0;
    for (const QString& part : Text.split(zwsp)) longest = std::max<int>(longest, part.size());
    return longest;
  };
  const QString word(1000, u'x');
  const QString broken = BreakLongWords(QStringLiteral("<p>") + word + QStringLiteral(" short</p>"), 200);
  EXPECT_EQ(broken.count(zwsp), 4);
  EXPECT_LE(runs(broken.section(u' ', 0, 0)), 203);  // "<p>" and a run
  EXPECT_EQ(QString(broken).remove(zwsp), QStringLiteral("<p>") + word + QStringLiteral(" short</p>"));

  // Attributes (a long data: URL), scripts and style sheets are not page text.
  const QString markup = QStringLiteral("<img src=\"data:image/png;base64,") + word + QStringLiteral("\"><script>var s='") + word +
                         QStringLiteral("';</script><STYLE>p{") + word + QStringLiteral("}</STYLE>");
  EXPECT_EQ(BreakLongWords(markup, 200), markup);
  EXPECT_EQ(BreakLongWords(markup + word, 200).count(zwsp), 4);

  // Entities and surrogate pairs are never cut.
  const QString entity = QString(199, u'a') + QStringLiteral("&eacute;") + QString(50, u'b');
  const QString withEntity = BreakLongWords(entity, 200);
  EXPECT_TRUE(withEntity.contains(u"&eacute;"));
  EXPECT_EQ(QString(withEntity).remove(zwsp), entity);
  const QString emoji = QString(199, u'a') + QString::fromUtf8("\U0001F600") + QStringLiteral("b");
  const QString withEmoji = BreakLongWords(emoji, 200);
  EXPECT_TRUE(withEmoji.contains(QString::fromUtf8("\U0001F600")));
  EXPECT_EQ(withEmoji.count(zwsp), 1);
}

}  // namespace
}  // namespace kestrine::ui
