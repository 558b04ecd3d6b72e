# Writes the desktop entry for the installed app at install time.
# In: LUMENOR_TEMPLATE (with @EXEC@), LUMENOR_PROGRAM (absolute path), LUMENOR_OUTPUT.

if(LUMENOR_PROGRAM MATCHES "[=\n\r\t]")
  message(FATAL_ERROR "Can't name ${LUMENOR_PROGRAM} in a desktop entry")
endif()
# Exec= quoting: a backslash before \ " ` $ inside double quotes, every backslash doubled
# again for the string value, and % doubled.
set(quoted "${LUMENOR_PROGRAM}")
string(REPLACE "\\" "\\\\" quoted "${quoted}")
string(REPLACE "\"" "\\\"" quoted "${quoted}")
string(REPLACE "`" "\\`" quoted "${quoted}")
string(REPLACE "\$" "\\\$" quoted "${quoted}")
string(REPLACE "\\" "\\\\" quoted "${quoted}")
string(REPLACE "%" "%%" quoted "${quoted}")
file(READ "${LUMENOR_TEMPLATE}" text)
string(REPLACE "@EXEC@" "\"${quoted}\"" text "${text}")
file(WRITE "${LUMENOR_OUTPUT}" "${text}")
