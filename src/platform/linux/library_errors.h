#pragma once
// What the image libraries share: their errors as one line, their UTF-8 values, and reads that
// hand out what lies before a part that cannot be read.

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrine::platform {

// The innermost cause of a library error, which says most, as one line without the name of the
// function that found it; frees the error.
template <class TError>
std::string LibraryErrorText(TError* Error, int (*Backtrace)(TError*, char*, std::size_t), void (*Free)(TError**)) {
  if (!Error) return "unknown error";
  std::vector<char> text(8192, '\0');
  Backtrace(Error, text.data(), text.size() - 1);
  Free(&Error);
  std::string line(text.data());
  line = line.substr(0, line.find('\n'));
  if (const std::size_t colon = line.find(": "); colon != std::string::npos && line.find(' ') > colon)
    line.erase(0, colon + 2);
  while (!line.empty() && (line.back() == '.' || line.back() == ' ')) line.pop_back();
  return line.empty() ? "unknown error" : line;
}

// A string value the libraries give as a size and then the bytes; empty when there is none.
template <class THandle, class TError>
std::string Utf8Value(THandle* Handle, int (*SizeOf)(THandle*, std::size_t*, TError**),
                      int (*Get)(THandle*, std::uint8_t*, std::size_t, TError**)) {
  std::size_t size = 0;
  if (SizeOf(Handle, &size, nullptr) != 1 || size == 0 || size > 65536) return {};
  std::vector<std::uint8_t> bytes(size);
  if (Get(Handle, bytes.data(), size, nullptr) != 1) return {};
  return std::string(reinterpret_cast<const char*>(bytes.data()));
}

// Count bytes at Offset through Read; when Read fails, again in steps of Unit up to the first that
// fails, so the bytes before a bad part still come.
template <class TRead>
std::uint32_t ReadPrefix(std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset, std::uint32_t Unit,
                         TRead&& Read) {
  const ssize_t whole = Read(Buffer, Count, Offset);
  if (whole >= 0) return static_cast<std::uint32_t>(std::min<ssize_t>(whole, Count));
  std::uint32_t done = 0;
  while (done < Count) {
    // Steps keep to Unit boundaries, where a library's blocks start.
    const std::int64_t at = Offset + done;
    const auto step = static_cast<std::uint32_t>(std::min<std::int64_t>(Count - done, Unit - at % Unit));
    const ssize_t got = Read(Buffer + done, step, at);
    if (got <= 0) break;
    done += static_cast<std::uint32_t>(got);
    if (static_cast<std::uint32_t>(got) < step) break;
  }
  return done;
}

}  // namespace kestrine::platform
