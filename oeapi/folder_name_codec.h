// Folder names on disk. A folder level is stored as IMAP modified UTF-7
// (RFC 3501 5.1.3): printable ASCII stands for itself, '&' is written "&-",
// and every other character goes into a "&...-" run of base64 over UTF-16
// with ',' in place of '/'. Unlike plain IMAP, the hierarchy separator '.'
// and the path separator '/' also go into such runs, so a level never holds
// either of them and every name reads back unchanged.
#pragma once

#include <string>

namespace oeapi {

std::string EncodeFolderLevel(const std::u16string &name);
// Decodes what EncodeFolderLevel wrote; malformed runs are kept as text.
std::u16string DecodeFolderLevel(const std::string &level);

}  // namespace oeapi
