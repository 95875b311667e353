// Streaming helpers of the composer: part files copied or base64-encoded
// into the message, and the text of one sender or recipient line.
#pragma once

#include <stddef.h>
#include <stdio.h>
#include "record/mdat.h"

#define BV_BASE64_LINE_CHARS 72  // characters per base64 line
#define BV_ADDRESS_TEXT_LEN 4096  // one sender or recipient text, encoded

// Copies an open file byte for byte and closes it; *endsWithLineEnd tells
// whether the last byte written was LF (true for an empty file).
void CopyStreamToOutput(FILE *in, FILE *out, bool *endsWithLineEnd);
// Writes an open file in base64 and closes it: CR LF after every 72
// characters and at the end.
void WriteStreamBase64(FILE *in, FILE *out);
// The sender or recipient text from a name and an address: a bare name is
// kept without a domain, a plain name quoted, non-ASCII text encoded in
// the record's code page.
// Line ends inside a header text become spaces: a value can never start a
// header line of its own.
void KeepOnOneLine(char *text);
// Text for a quoted parameter value: on one line, with '"' and '\\' escaped.
void QuotedParameterText(const char *text, char *out, size_t outCap);
void BuildAddressText(const char *name, const char *addr, const mdat *record, char *out, size_t outCap);
