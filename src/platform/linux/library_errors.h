#pragma once
// What the image libraries share: their errors as one line, their UTF-8 values, and reads that
// hand out what lies before a part that cannot be read.

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrine::platform {

// The innermost cause of a library error, which says most, as one line; frees the error.
template <class TError>
std::string LibraryErrorText(TError* Error, int (*Print)(TError*, char*, std::size_t), void (*Free)(TError**)) {
  if (!Error) return "unknown error";
  std::vector<char> text(4096);
  const int n = Print(Error, text.data(), text.size());
  Free(&Error);
  std::string all(text.data(), n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), text.size()) : 0);
  all = all.c_str();  // up to the terminator
  while (!all.empty() && (all.back() == '\n' || all.back() == ' ')) all.pop_back();
  const std::size_t cut = all.rfind('\n');
  std::string line = cut == std::string::npos ? all : all.substr(cut + 1);
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
