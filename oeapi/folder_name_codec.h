// Folder names on disk. A folder level is stored as IMAP modified UTF-7
// (RFC 3501 5.1.3): printable ASCII stands for itself, '&' is written "&-",
// and every other character goes into a "&...-" run of base64 over UTF-16
// with ',' in place of '/'. The hierarchy separator '.', the path separator
// '/' and the escape '\' are written as Dovecot's list escape writes them
// ("\2e", "\2f", "\5c"), so a level never holds a separator, Dovecot opens
// the folder (and, with its listescape plugin, shows the name itself), and
// every name reads back unchanged. Older "&AC4-" runs still read as '.'.
#pragma once

#include <string>

namespace oeapi {

std::string EncodeFolderLevel(const std::u16string &name);
// A first level: as EncodeFolderLevel, but "inbox" in any case gets its first
// letter escaped. Dovecot takes such a level for INBOX, the store's root, and
// would look for its subfolders under ".INBOX.", where they are not.
std::string EncodeTopFolderLevel(const std::u16string &name);
// Decodes what EncodeFolderLevel wrote; malformed runs are kept as text.
std::u16string DecodeFolderLevel(const std::string &level);

}  // namespace oeapi
