# Fails when a static launcher weighs more than its budget.
# Usage: cmake -DFILE=LAUNCHER -DLIMIT=BYTES -P size_budget.cmake
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE}: ${size} bytes, over its budget of ${LIMIT}")
endif()
message(STATUS "${FILE}: ${size} bytes, within its budget of ${LIMIT}")
