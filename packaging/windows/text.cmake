# Writes SOURCE to TARGET as a Windows text file (CR LF line ends). With GROFF
# set, SOURCE is a manual page and TARGET its plain-text rendering.
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou -rLL=78n ${SOURCE}
                  OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR warnings)
    message(FATAL_ERROR "groff failed on ${SOURCE}: ${warnings}")
  endif()
else()
  file(READ ${SOURCE} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TARGET} "${text}")
