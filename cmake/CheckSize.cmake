# Prints the size of FILE and fails when it exceeds LIMIT bytes.
file(SIZE ${FILE} size)
message(STATUS "setup.exe is ${size} bytes (limit ${LIMIT})")
if(size GREATER LIMIT)
  message(FATAL_ERROR "setup.exe is ${size} bytes, larger than ${LIMIT}: the archive offset would overwrite it")
endif()
