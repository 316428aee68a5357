# Writes INPUT into OUTPUT as a C++ array named SYMBOL (namespace standin).
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUTPUT} "namespace standin {\nextern const unsigned char ${SYMBOL}[];\nconst unsigned char ${SYMBOL}[] = {${bytes} 0};\n}\n")
