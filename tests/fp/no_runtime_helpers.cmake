# Fails when the library LIBRARY calls a helper of the compiler's runtime for 128-bit integer
# division or binary128 arithmetic (__udivti3, __multf3, ...) or libquadmath: its arithmetic is
# meant to be all its own. NM is the nm program that lists the undefined symbols.
execute_process(COMMAND ${NM} -u ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} -u ${LIBRARY} failed")
endif()
string(REGEX MATCHALL "__[a-z0-9]*(ti|tf)[0-9]*\n|[a-z_]*quadmath[a-z_]*" helpers "${symbols}")
if(helpers)
  message(FATAL_ERROR "${LIBRARY} calls runtime helpers: ${helpers}")
endif()
