# Creates an empty file named FILE unless it exists already.
if(NOT EXISTS "${FILE}")
  file(WRITE "${FILE}" "")
endif()
