// Placeholder until the parser lands; delete this file when it does.
#include "mime/mime.h"
#include "record/com.h"

extern "C" {
char gLineBuf[BV_LINE_BUF_LEN];
int Parse_RFC822_Msg(FILE *, mdat *, const char *, const char *, int) {
    com_Log("BV Error: the message parser is not available yet");
    return 1;
}
int ReadMimeLine(FILE *, FILE *, int, int) { return 1; }
}
