# Writes the user service for the installed app at install time.
# In: LUMENOR_TEMPLATE (with @EXEC@), LUMENOR_PROGRAM (absolute path), LUMENOR_OUTPUT.

if(LUMENOR_PROGRAM MATCHES "[\n\r]")
  message(FATAL_ERROR "Can't name ${LUMENOR_PROGRAM} in a systemd unit")
endif()
# ExecStart= quoting: backslash and double quote escaped inside double quotes, % and $ doubled
# so that systemd expands neither a specifier nor a variable.
set(quoted "${LUMENOR_PROGRAM}")
string(REPLACE "\\" "\\\\" quoted "${quoted}")
string(REPLACE "\"" "\\\"" quoted "${quoted}")
string(REPLACE "%" "%%" quoted "${quoted}")
string(REPLACE "\$" "\$\$" quoted "${quoted}")
file(READ "${LUMENOR_TEMPLATE}" text)
string(REPLACE "@EXEC@" "\"${quoted}\"" text "${text}")
file(WRITE "${LUMENOR_OUTPUT}" "${text}")
