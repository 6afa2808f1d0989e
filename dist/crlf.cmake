# Copies text file IN to OUT with CRLF line endings.
# cmake -DIN=... -DOUT=... -P crlf.cmake
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
