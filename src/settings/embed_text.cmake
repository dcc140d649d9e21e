# Writes INPUT as one C++ raw string literal to OUTPUT.
file(READ ${INPUT} text)
string(FIND "${text}" ")kestrine\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the literal's closing delimiter")
endif()
file(WRITE ${OUTPUT} "R\"kestrine(${text})kestrine\"\n")
