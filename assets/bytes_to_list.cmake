# Writes the bytes of INPUT as a comma-separated list of hexadecimal literals to OUTPUT, sixteen to a line,
# for use as an array initialiser.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "${bytes}\n")
