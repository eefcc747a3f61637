# Renders a manual page (PAGE) as plain text (OUTPUT) with groff (GROFF): no bold, underline or
# overstrike, and Windows line ends.
execute_process(
    COMMAND ${GROFF} -t -man -Tascii -P-cbou -rLL=78n ${PAGE}
    OUTPUT_VARIABLE text
    COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
