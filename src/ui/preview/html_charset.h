#pragma once
// The character set of a web page shown from its bytes alone: a byte-order mark, else what the page
// declares, else what the bytes look like.

#include <QByteArray>
#include <QString>

namespace kestrine::ui {

enum class TCharsetSource { ByteOrderMark, Declaration, Content };

struct THtmlText {
  QString Html;
  QString Charset;  // as named to the user: "UTF-8", "windows-1252", or the declared name
  TCharsetSource Source = TCharsetSource::Content;
};

// The charset a page names in a meta element (charset= or an http-equiv content) or in an XML
// declaration near its start; empty when it names none.
QByteArray DeclaredCharset(const QByteArray& Bytes);
// Bytes that are valid UTF-8; a sequence cut off at the very end counts as valid when CutAtEnd.
bool IsValidUtf8(const QByteArray& Bytes, bool CutAtEnd);
QString DecodeWindows1252(const QByteArray& Bytes);
// CutAtEnd: the bytes are the first part of a longer file.
THtmlText DecodeHtml(const QByteArray& Bytes, bool CutAtEnd = false);

// The page with a zero-width space after every MaxRun characters of page text that hold no blank:
// the text layout takes time that grows with the square of a word's length, and a recovered file
// may hold megabytes without a space. Tags, entities, scripts and style sheets are left whole.
QString BreakLongWords(const QString& Html, int MaxRun = 200);

}  // namespace kestrine::ui
