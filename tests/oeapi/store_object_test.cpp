// The Maildir-backed store object, driven through the COM stand-in exactly as
// the module drives it, by the scenarios in data/. A scenario line is a
// command and its tab-separated arguments; the "> " lines after it are what
// it must print. Folder paths are names joined by '|' ("-" the root); names
// and message texts take C escapes, names also \uXXXX for any UTF-16 unit.
//   env PATH|unset, serverdir PATH|unset   BV_OE_STORE / BV_COM_SERVER_DIR (PATH in the scratch root)
//   open, cocreate CLASS IID [null], query IID, release   the object (CLASS, IID: store|other)
//   folder PARENT NAME, getfolder PATH|ID, walk, randomfolders N   folders (their ids
//     "new", "known" when created or walked before, "clash" when another's)
//   message PATH read|unread TEXT|bytes:N [nocommit], count PATH, list PATH PIECE,
//   clone FROM TO, delete PATH   messages (clone and delete take the first)
//   write RELPATH TEXT, mkdir RELPATH, isdir RELPATH, empty RELPATH, python   the tree on disk
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "oeapi/oeapi.h"
#include "platform/platform.h"
#include "support/case_table.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::u16string Units(const std::string &text) {  // '\uXXXX' escapes, other bytes one unit each
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\u") == 0) out += (char16_t)strtol(text.substr(i + 2, 4).c_str(), nullptr, 16), i += 5;
        else out += (char16_t)(unsigned char)text[i];
    }
    return out;
}
std::string Escaped(const std::u16string &units) {
    std::string out;
    char hex[8];
    for (char16_t u : units) {
        if (u >= 0x20 && u < 0x7f && u != '\\') out += (char)u;
        else snprintf(hex, sizeof hex, "\\u%04x", u), out += hex;
    }
    return out;
}
BSTR MakeBstr(const std::u16string &text) { return plat_SysAllocStringLen((const WCHAR *)text.data(), (uint32_t)text.size()); }
std::u16string Take(BSTR text) {
    std::u16string units((const char16_t *)text, plat_SysStringLen(text));
    plat_SysFreeString(text);
    return units;
}
std::string Hr(HRESULT hr) {
    static const std::map<HRESULT, std::string> names = {{S_OK, "S_OK"}, {E_NOINTERFACE, "E_NOINTERFACE"},
                                                         {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
                                                         {OE_E_NO_MORE_ITEMS, "OE_E_NO_MORE_ITEMS"}};
    return names.count(hr) ? names.at(hr) : FAILED(hr) ? "failed" : "succeeded";
}
std::string Sha(const std::string &bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256((const unsigned char *)bytes.data(), bytes.size(), digest);
    char hex[13];
    for (int i = 0; i < 6; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}
// A message text; "bytes:N" at its end stands for N bytes of every value.
std::u16string MessageUnits(const std::string &text) {
    size_t at = text.find("bytes:");
    std::string bytes = text.substr(0, at);
    for (size_t i = 0, n = at == std::string::npos ? 0 : std::stoul(text.substr(at + 6)); i < n; i++)
        bytes += (char)((i * 7 + i / 256) & 0xff);
    std::u16string units;
    for (unsigned char c : bytes) units += c;  // a byte a unit, as the module hands them over
    return units;
}
const GUID kOther = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 4}};
const GUID *Guid(const std::string &name, const GUID *store) { return name == "store" ? store : &kOther; }

class Scenario {
public:
    explicit Scenario(const fs::path &root) : root_(root) {}
    ~Scenario() {
        if (store_) store_->lpVtbl->Release(store_);
        unsetenv("BV_COM_SERVER_DIR");
    }
    std::string Run(const Args &a);

private:
    OeFolder *Folder(const std::string &path) {
        OeFolder *folder = nullptr;
        store_->lpVtbl->GetFolder(store_, Id(path), &folder);
        return folder;
    }
    // "known" when path has that id already, else "new" (or "clash" when
    // another path has it); ids are numbers of this object only.
    std::string Number(const std::string &path, uint32_t id) {
        if (ids_.count(path)) return ids_[path] == id ? "known" : "renumbered";
        for (const auto &entry : ids_)
            if (entry.second == id) return "clash";
        ids_[path] = id;
        return "new";
    }
    uint32_t Id(const std::string &path) { return path == "-" ? 0 : ids_.count(path) ? ids_[path] : atoi(path.c_str()); }
    OeMessage *First(const std::string &path) {
        OeFolder *folder = Folder(path);
        OeMessage *message = nullptr;
        folder->lpVtbl->GetFirstMessage(folder, &message);
        folder->lpVtbl->Release(folder);
        return message;
    }
    // The raw text piece by piece, as the store reader takes it; also the number of pieces.
    std::string RawText(OeMessage *message, int32_t piece, int *pieces) {
        std::string bytes;
        for (*pieces = 0;; ++*pieces) {
            BSTR text = nullptr;
            message->lpVtbl->GetNextRawText(message, piece, &text);
            std::u16string units = Take(text);
            if (units.empty() || units.size() > (size_t)piece) return bytes;
            for (char16_t u : units) bytes += u < 0x100 ? (char)u : '?';
        }
    }
    std::string State(OeMessage *message) {
        int32_t state = -1;
        message->lpVtbl->GetState(message, &state);
        return std::to_string(state);
    }
    void Walk(OeFolder *folder, const std::u16string &prefix, std::map<std::u16string, uint32_t> &out) {
        OeFolder *child = nullptr;
        for (HRESULT hr = folder->lpVtbl->GetFirstChild(folder, &child); SUCCEEDED(hr) && child;
             hr = folder->lpVtbl->GetNextChild(folder, &child)) {
            BSTR name = nullptr;
            child->lpVtbl->GetName(child, &name);
            std::u16string path = (prefix.empty() ? u"" : prefix + u"|") + Take(name);
            child->lpVtbl->GetID(child, &out[path]);
            Walk(child, path, out);
            child->lpVtbl->Release(child);
        }
    }
    std::string FolderCommand(const Args &a);
    std::string MessageCommand(const Args &a);

    fs::path root_;
    OeRoot *store_ = nullptr;
    std::map<std::string, uint32_t> ids_;
};

std::string Scenario::FolderCommand(const Args &a) {
    if (a[0] == "folder") {
        BSTR name = MakeBstr(Units(a[2]));
        uint32_t id = 0xFFFFFFFF;
        HRESULT hr = store_->lpVtbl->CreateFolder(store_, Id(a[1]), name, &id);
        plat_SysFreeString(name);
        if (FAILED(hr)) return Hr(hr);
        return Hr(hr) + " " + Number((a[1] == "-" ? "" : a[1] + "|") + a[2], id);
    }
    if (a[0] == "getfolder") {
        OeFolder *folder = Folder(a[1]);
        if (!folder) return "none";
        BSTR name = nullptr;
        folder->lpVtbl->GetName(folder, &name);
        folder->lpVtbl->Release(folder);
        return Escaped(Take(name));
    }
    if (a[0] == "randomfolders") {  // names of any units: controls, lone surrogates, separators, NUL
        const char16_t alphabet[] = {u'a', u'Z', u'.', u'/', u'&', u'-', u'+', u',', u'~', u' ', 0x00,   0x01,
                                     0x7f, 0xe9,  0x3b1, 0x65e5, 0xd800, 0xdc00, 0xfffd, 0xffff, u'\\', u':', u'*'};
        std::set<std::u16string> names;
        for (uint32_t x = 12345; names.size() < std::stoul(a[1]);) {
            std::u16string name;
            x = x * 1103515245u + 12345u;
            for (size_t i = 0, length = 1 + (x >> 16) % 30; i < length; i++)
                x = x * 1103515245u + 12345u, name += alphabet[(x >> 16) % (sizeof alphabet / sizeof alphabet[0])];
            names.insert(name);
        }
        for (const auto &name : names) Run({"folder", "-", Escaped(name)});
        return std::to_string(names.size()) + " created";
    }
    OeFolder *top = nullptr;  // walk
    HRESULT hr = store_->lpVtbl->GetRootFolder(store_, &top);
    uint32_t rootId = 1;
    top->lpVtbl->GetID(top, &rootId);
    std::map<std::u16string, uint32_t> walked;
    Walk(top, u"", walked);
    top->lpVtbl->Release(top);
    std::string out = Hr(hr) + " root " + std::to_string(rootId);
    std::map<std::string, int> told;
    for (const auto &[path, id] : walked) {
        out += "\n" + Escaped(path);
        told[Number(Escaped(path), id)]++;
    }
    return out + "\nids: " + std::to_string(told["known"]) + " known, " + std::to_string(told["new"]) + " new";
}

std::string Scenario::MessageCommand(const Args &a) {
    OeMessage *message = nullptr;
    int32_t ok = 0, count = -1;
    if (a[0] == "message") {
        OeFolder *folder = Folder(a[1]);
        BSTR text = MakeBstr(MessageUnits(a[3]));
        HRESULT hr = folder->lpVtbl->CreateMessage(folder, text, a[2] == "unread", &message);
        plat_SysFreeString(text);
        folder->lpVtbl->Release(folder);
        if (a[4] != "nocommit") message->lpVtbl->Commit(message, &ok);
        message->lpVtbl->Release(message);
        return Hr(hr) + " committed " + std::to_string(ok);
    }
    if (a[0] == "count") {
        OeFolder *folder = Folder(a[1]);
        if (!folder) return "none";
        folder->lpVtbl->GetMessageCount(folder, &count);
        folder->lpVtbl->Release(folder);
        return std::to_string(count);
    }
    std::string out;
    if (a[0] == "list") {
        OeFolder *folder = Folder(a[1]);
        HRESULT hr = folder->lpVtbl->GetFirstMessage(folder, &message);
        for (; SUCCEEDED(hr) && message; hr = folder->lpVtbl->GetNextMessage(folder, &message)) {
            int pieces = 0;
            std::string bytes = RawText(message, atoi(a[2].c_str()), &pieces);
            out += "state " + State(message) + " size " + std::to_string(bytes.size()) + " sha " + Sha(bytes) +
                   " pieces " + std::to_string(pieces) + "\n";
            message->lpVtbl->Release(message);
        }
        folder->lpVtbl->Release(folder);
        return out + Hr(hr);
    }
    message = First(a[1]);
    if (a[0] == "delete") {
        for (const char *when : {"", ", again "}) {
            out += when + Hr(message->lpVtbl->Delete(message, 1, &ok));
            out += " " + std::to_string(ok);
        }
    } else {  // clone
        OeMessage *copy = nullptr;
        out = Hr(message->lpVtbl->CloneInto(message, Id(a[2]), &copy));
        out += ", before commit " + Run({"count", a[2]});
        copy->lpVtbl->Commit(copy, &ok);
        int pieces = 0;
        bool same = RawText(copy, OE_RAW_PIECE_MAX, &pieces) == RawText(message, OE_RAW_PIECE_MAX, &pieces);
        out += ", committed " + std::to_string(ok);
        out += ", after " + Run({"count", a[2]}) + ", same bytes " + std::to_string(same) + ", same state " +
               std::to_string(State(copy) == State(message));
        copy->lpVtbl->Release(copy);
    }
    message->lpVtbl->Release(message);
    return out;
}

std::string Scenario::Run(const Args &a) {
    std::string path = a.size() > 1 ? (root_ / a[1]).string() : "";
    if (a[0] == "env" || a[0] == "serverdir") {
        const char *name = a[0] == "env" ? "BV_OE_STORE" : "BV_COM_SERVER_DIR";
        a[1] == "unset" ? unsetenv(name) : setenv(name, (path + "/").c_str(), 1);
        return "";
    }
    if (a[0] == "open" || a[0] == "cocreate") {
        void *object = (void *)0x1;
        const GUID *clsid = Guid(a[0] == "open" ? "store" : a[1], &CLSID_OEAPI);
        const GUID *iid = Guid(a[0] == "open" ? "store" : a[2], &IID_IOEAPI);
        HRESULT hr = plat_CoCreateInstance(clsid, nullptr, BV_CLSCTX_ALL_SERVERS, iid, a[3] == "null" ? nullptr : &object);
        if (a[0] == "open" && SUCCEEDED(hr)) store_ = (OeRoot *)object, ids_.clear();
        return Hr(hr) + (object ? "" : " null");
    }
    if (a[0] == "query") {
        void *object = nullptr;
        HRESULT hr = store_->lpVtbl->QueryInterface(store_, Guid(a[1], &IID_IOEAPI), &object);
        return Hr(hr) + (object == store_ ? " same" : object ? " other" : " null");
    }
    if (a[0] == "release") {
        uint32_t refs = store_->lpVtbl->Release(store_);
        if (refs == 0) store_ = nullptr;
        return std::to_string(refs);
    }
    if (a[0] == "write") bvtest::WriteFileText(path, a[2]);
    if (a[0] == "mkdir") fs::create_directories(path);
    if (a[0] == "write" || a[0] == "mkdir") return "";
    if (a[0] == "isdir") return std::to_string(plat_DirectoryExists(path.c_str()));
    if (a[0] == "empty") return std::to_string(fs::is_empty(path));
    if (a[0] == "python") {
        bvtest::ProgramRun run = bvtest::RunProgram("python3 " + bvtest::ShellQuote(BV_OEAPI_TEST_DIR "/read_maildir.py") +
                                                        " " + bvtest::ShellQuote(root_.string()), root_.parent_path());
        std::multiset<std::string> lines;  // in any order
        std::istringstream in(run.out + run.err);
        for (std::string line; std::getline(in, line);) lines.insert(line);
        std::string out;
        for (const std::string &line : lines) out += (out.empty() ? "" : "\n") + line;
        return out;
    }
    if (a[0] == "folder" || a[0] == "getfolder" || a[0] == "walk" || a[0] == "randomfolders") return FolderCommand(a);
    return MessageCommand(a);
}

TEST(OeStoreObject, EveryScenarioPrintsWhatItExpects) {
    bool python = system("python3 -c 'import mailbox, hashlib' >/dev/null 2>&1") == 0;
    int scenarios = 0;
    for (const auto &entry : fs::directory_iterator(BV_OEAPI_TEST_DIR "/data")) {
        SCOPED_TRACE(entry.path().filename().string());
        if (!python && bvtest::ReadFileText(entry.path()).find("\npython") != std::string::npos) continue;
        bvtest::TempDir dir("bv_oeapi");
        fs::path root = dir.Path() / "store";
        fs::create_directories(root);
        setenv("BV_OE_STORE", root.c_str(), 1);
        std::string expected, printed, line;
        {
            Scenario scenario(root);
            std::ifstream in(entry.path());
            while (std::getline(in, line)) {
                if (line.rfind("> ", 0) == 0) expected += line.substr(2) + "\n";
                if (line.empty() || line[0] == '#' || line[0] == '>') continue;
                printed += line + "\n";
                expected += line + "\n";
                Args args;
                std::istringstream fields(line);
                for (std::string field; std::getline(fields, field, '\t');) args.push_back(bvtest::DecodeEscapes(field));
                args.resize(6);
                std::string out = scenario.Run(args);
                std::istringstream lines(out);
                for (std::string o; std::getline(lines, o);) printed += o + "\n";
            }
        }
        EXPECT_EQ(printed, expected);
        scenarios++;
    }
    EXPECT_GE(scenarios, 4);
}

}  // namespace
