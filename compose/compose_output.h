// Streaming helpers of the composer: part files copied or base64-encoded
// into the message, and the text of one sender or recipient line.
#pragma once

#include <stddef.h>
#include <stdio.h>
#include "record/mdat.h"

#define BV_BASE64_LINE_CHARS 72  // characters per base64 line
#define BV_ADDRESS_TEXT_LEN 4096  // one sender or recipient text, encoded

// Copies the file byte for byte; *endsWithLineEnd tells whether the last byte
// written was LF (true for an empty file). False when the file cannot be opened.
bool CopyFileToOutput(const char *path, FILE *out, bool *endsWithLineEnd);
// Writes the file in base64, CR LF after every 72 characters and at the end.
// False when the file cannot be opened.
bool WriteFileBase64(const char *path, FILE *out);
// The sender or recipient text from a name and an address: a bare name is
// expanded with the domain, a plain name quoted, non-ASCII text encoded in
// the record's code page.
void BuildAddressText(const char *name, const char *addr, const mdat *record, const char *domain, char *out,
                      size_t outCap);
