# Writes OUT as the file FIRST followed by the file SECOND up to its line
# "## For developers": the README's part for users, which is what a release
# ships, with the pictures it shows, so that every link in it resolves.
#   cmake -DOUT=out -DFIRST=a -DSECOND=README.md -P concat.cmake
file(READ ${FIRST} first)
file(READ ${SECOND} second)
string(FIND "${second}" "\n## For developers\n" cut)
if(cut GREATER -1)
  math(EXPR cut "${cut} + 1")
  string(SUBSTRING "${second}" 0 ${cut} second)
endif()
file(WRITE ${OUT} "${first}${second}")
