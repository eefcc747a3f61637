# Copies a Markdown document (SOURCE) into a package's documents folder (OUTPUT), where the README,
# the changelog and the documents of docs/ lie side by side: a link into docs/, or up out of it,
# loses that step; a link to a manual page NAME.1 goes to MAN_LINK with NAME put in; a link to
# LICENSE goes to LICENSE_LINK.
file(READ ${SOURCE} text)
string(REGEX REPLACE "\\]\\((docs/|\\.\\./)" "](" text "${text}")
string(REPLACE "NAME" "\\1" man_target "${MAN_LINK}")
string(REGEX REPLACE "\\]\\(([a-z-]+)\\.1\\)" "](${man_target})" text "${text}")
string(REPLACE "](LICENSE)" "](${LICENSE_LINK})" text "${text}")
file(WRITE ${OUTPUT} "${text}")
