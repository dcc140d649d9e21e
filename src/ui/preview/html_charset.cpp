#include "ui/preview/html_charset.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>

namespace kestrine::ui {

namespace {

// Declarations are looked for only this far in, as browsers do; a page that declares later has
// usually been read with the wrong set already.
constexpr qsizetype DeclarationWindow = 8 * 1024;

const char16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Labels that browsers read as windows-1252 (Latin-1 and ASCII pages use its superset).
bool IsWindows1252Label(const QByteArray& Name) {
  static const char* const Labels[] = {"windows-1252", "cp1252", "x-cp1252", "iso-8859-1", "iso8859-1",
                                       "iso_8859-1",   "latin1", "l1",       "us-ascii",   "ascii",
                                       "cp819",        "ibm819", "iso-ir-100", "csisolatin1"};
  for (const char* label : Labels)
    if (Name == label) return true;
  return false;
}

}  // namespace

QByteArray DeclaredCharset(const QByteArray& Bytes) {
  const QString head = QString::fromLatin1(Bytes.left(DeclarationWindow));
  static const QRegularExpression Meta(
      QStringLiteral(R"(<meta\b[^>]*?\bcharset\s*=\s*["']?\s*([A-Za-z0-9._:\-]+))"),
      QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression Xml(QStringLiteral(R"(^\s*<\?xml\b[^>]*?\bencoding\s*=\s*["']([A-Za-z0-9._:\-]+))"),
                                      QRegularExpression::CaseInsensitiveOption);
  QRegularExpressionMatch match = Meta.match(head);
  if (!match.hasMatch()) match = Xml.match(head);
  return match.hasMatch() ? match.captured(1).toLatin1().toLower() : QByteArray();
}

bool IsValidUtf8(const QByteArray& Bytes, bool CutAtEnd) {
  // A stateful decoder keeps an unfinished last sequence waiting for more bytes; a stateless one
  // calls it an error, which it is at the real end of a file.
  QStringDecoder decoder(QStringConverter::Utf8,
                         CutAtEnd ? QStringDecoder::Flag::Default : QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(Bytes);
  return !decoder.hasError();
}

QString DecodeWindows1252(const QByteArray& Bytes) {
  QString text(Bytes.size(), Qt::Uninitialized);
  QChar* out = text.data();
  for (char c : Bytes) {
    const auto b = static_cast<unsigned char>(c);
    *out++ = QChar(b >= 0x80 && b < 0xA0 ? Windows1252High[b - 0x80] : static_cast<char16_t>(b));
  }
  return text;
}

THtmlText DecodeHtml(const QByteArray& Bytes, bool CutAtEnd) {
  THtmlText result;
  auto decodeWith = [&](QStringConverter::Encoding Encoding, const QString& Name) {
    QStringDecoder decoder(Encoding);
    result.Html = decoder.decode(Bytes);
    result.Charset = Name;
  };
  if (Bytes.startsWith("\xEF\xBB\xBF")) {
    result.Source = TCharsetSource::ByteOrderMark;
    decodeWith(QStringConverter::Utf8, QStringLiteral("UTF-8"));
    return result;
  }
  if (Bytes.startsWith("\xFF\xFE") || Bytes.startsWith("\xFE\xFF")) {
    result.Source = TCharsetSource::ByteOrderMark;
    const bool little = Bytes.startsWith("\xFF\xFE");
    decodeWith(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
               little ? QStringLiteral("UTF-16LE") : QStringLiteral("UTF-16BE"));
    return result;
  }

  const QByteArray declared = DeclaredCharset(Bytes);
  if (!declared.isEmpty()) {
    result.Source = TCharsetSource::Declaration;
    // A page read as bytes cannot really be UTF-16 if its declaration was readable as ASCII.
    if (declared == "utf-8" || declared == "utf8" || declared.startsWith("utf-16") || declared == "unicode-1-1-utf-8") {
      decodeWith(QStringConverter::Utf8, QStringLiteral("UTF-8"));
      return result;
    }
    if (IsWindows1252Label(declared)) {
      result.Html = DecodeWindows1252(Bytes);
      result.Charset = QStringLiteral("windows-1252");
      return result;
    }
    QStringDecoder decoder(declared.constData());
    if (decoder.isValid()) {
      result.Html = decoder.decode(Bytes);
      result.Charset = QString::fromLatin1(declared);
      return result;
    }
    // A set this build cannot decode: the bytes decide.
  }

  result.Source = TCharsetSource::Content;
  if (Bytes.size() >= 2 && Bytes[0] == '<' && Bytes[1] == '\0') {
    decodeWith(QStringConverter::Utf16LE, QStringLiteral("UTF-16LE"));
  } else if (Bytes.size() >= 2 && Bytes[0] == '\0' && Bytes[1] == '<') {
    decodeWith(QStringConverter::Utf16BE, QStringLiteral("UTF-16BE"));
  } else if (IsValidUtf8(Bytes, CutAtEnd)) {
    decodeWith(QStringConverter::Utf8, QStringLiteral("UTF-8"));
  } else {
    result.Html = DecodeWindows1252(Bytes);
    result.Charset = QStringLiteral("windows-1252");
  }
  return result;
}

QString BreakLongWords(const QString& Html, int MaxRun) {
  constexpr int MaxEntity = 32;
  QString out;
  out.reserve(Html.size() + Html.size() / std::max(MaxRun, 1) + 1);
  bool inTag = false;
  QString rawEnd;  // "</script" or "</style" while inside one: its text is no page text
  int run = 0;
  int entity = -1;  // characters since an '&', -1 outside an entity
  const qsizetype size = Html.size();
  for (qsizetype i = 0; i < size; ++i) {
    const QChar c = Html[i];
    if (inTag) {
      out.append(c);
      if (c == u'>') inTag = false;
      continue;
    }
    if (c == u'<') {
      const QStringView rest = QStringView(Html).mid(i);
      if (!rawEnd.isEmpty()) {
        if (rest.startsWith(rawEnd, Qt::CaseInsensitive)) {
          rawEnd.clear();
          inTag = true;
        }
      } else {
        inTag = true;
        for (const char* raw : {"script", "style"}) {
          const QString name = QString::fromLatin1(raw);
          if (rest.mid(1).startsWith(name, Qt::CaseInsensitive) &&
              (rest.size() <= name.size() + 1 || !rest[name.size() + 1].isLetterOrNumber()))
            rawEnd = QStringLiteral("</") + name;
        }
      }
      run = 0;
      entity = -1;
      out.append(c);
      continue;
    }
    if (!rawEnd.isEmpty()) {
      out.append(c);
      continue;
    }
    if (c.isSpace()) {
      run = 0;
      entity = -1;
      out.append(c);
      continue;
    }
    if (c == u'&') entity = 0;
    const bool insideEntity = entity >= 0 && entity <= MaxEntity;
    if (run >= MaxRun && !insideEntity && !c.isLowSurrogate() && !c.isMark()) {
      out.append(QChar(0x200B));
      run = 0;
    }
    out.append(c);
    ++run;
    if (entity >= 0) entity = c == u';' ? -1 : entity + 1;
  }
  return out;
}

}  // namespace kestrine::ui
