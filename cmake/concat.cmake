# Writes OUT as the file FIRST followed by the file SECOND:
#   cmake -DOUT=out -DFIRST=a -DSECOND=b -P concat.cmake
file(READ ${FIRST} first)
file(READ ${SECOND} second)
file(WRITE ${OUT} "${first}${second}")
