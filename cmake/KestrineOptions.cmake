# Compile options shared by every target of the project.
add_library(kestrine_options INTERFACE)
target_compile_options(kestrine_options INTERFACE -Wall -Wextra -Werror)
if(KESTRINE_SANITIZE OR KESTRINE_FUZZ)
  target_compile_options(kestrine_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -O1 -g1)
  target_link_options(kestrine_options INTERFACE -fsanitize=address,undefined)
  # GCC's flow analysis gives false maybe-uninitialized reports on instrumented library code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(kestrine_options INTERFACE -Wno-maybe-uninitialized)
  endif()
endif()
if(KESTRINE_FUZZ)
  target_compile_options(kestrine_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
