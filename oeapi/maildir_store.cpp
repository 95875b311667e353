// Folder tree and message files of the Maildir++ store.
#include "oeapi/maildir_store.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include "oeapi/folder_name_codec.h"

namespace oeapi {
namespace {

const char16_t kRootName[] = u"Local Folders";
const char *const kSubdirs[] = {"cur", "new", "tmp"};

bool IsDirectory(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string &path) { return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST; }

// Creates every missing directory of path.
bool MakeDirectoryTree(const std::string &path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        MakeDirectory(path.substr(0, pos));
    }
    return MakeDirectory(path) && IsDirectory(path);
}

bool MakeMaildir(const std::string &dir, bool subfolder) {
    if (!MakeDirectory(dir)) return false;
    for (const char *sub : kSubdirs) {
        if (!MakeDirectory(dir + "/" + sub)) return false;
    }
    if (subfolder) {
        // Maildir++ marks sub-folders with an empty "maildirfolder" file.
        FILE *marker = fopen((dir + "/maildirfolder").c_str(), "ab");
        if (marker) fclose(marker);
    }
    return true;
}

std::vector<std::string> SplitLevels(const std::string &key) {
    std::vector<std::string> levels;
    size_t start = 0;
    for (;;) {
        size_t dot = key.find('.', start);
        levels.push_back(key.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) return levels;
        start = dot + 1;
    }
}

// Host name as Maildir wants it in file names: '/' and ':' escaped.
std::string SafeHostName() {
    char host[256] = "localhost";
    if (gethostname(host, sizeof host - 1) != 0) snprintf(host, sizeof host, "localhost");
    host[sizeof host - 1] = 0;
    std::string out;
    for (const char *p = host; *p; p++) {
        if (*p == '/') {
            out += "\\057";
        } else if (*p == ':') {
            out += "\\072";
        } else {
            out += *p;
        }
    }
    return out;
}

void ListDirectory(const std::string &dir, std::vector<std::string> &out) {
    DIR *d = opendir(dir.c_str());
    if (!d) return;
    while (struct dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        out.push_back(dir + "/" + e->d_name);
    }
    closedir(d);
}

// Maildir unique names begin with the delivery time, so name order is
// delivery order within a folder.
std::string BaseName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

MaildirStore *MaildirStore::Open(const std::string &root) {
    if (root.empty()) return nullptr;
    std::string dir = root;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (!MakeDirectoryTree(dir) || !MakeMaildir(dir, false) || access(dir.c_str(), W_OK | X_OK) != 0) return nullptr;
    MaildirStore *store = new MaildirStore(dir);
    store->Scan();
    return store;
}

void MaildirStore::Release() {
    if (--refs_ == 0) delete this;
}

const FolderNode *MaildirStore::Find(uint32_t id) const { return id < nodes_.size() ? &nodes_[id] : nullptr; }

uint32_t MaildirStore::AddNode(uint32_t parent, const std::u16string &name, const std::string &key) {
    FolderNode node;
    node.id = static_cast<uint32_t>(nodes_.size());
    node.parent = parent;
    node.name = name;
    node.key = key;
    node.dir = key.empty() ? root_ : root_ + "/." + key;
    nodes_.push_back(node);
    if (!key.empty()) {
        byKey_[key] = node.id;
        nodes_[parent].children.push_back(node.id);
    }
    return node.id;
}

void MaildirStore::Scan() {
    AddNode(kRootFolderId, kRootName, "");
    std::vector<std::string> keys;
    DIR *d = opendir(root_.c_str());
    if (d) {
        while (struct dirent *e = readdir(d)) {
            std::string entry = e->d_name;
            if (entry.size() < 2 || entry[0] != '.' || entry[1] == '.') continue;
            if (IsDirectory(root_ + "/" + entry)) keys.push_back(entry.substr(1));
        }
        closedir(d);
    }
    // Sorted keys put every parent before its children.
    std::sort(keys.begin(), keys.end());
    for (const std::string &key : keys) {
        std::vector<std::string> levels = SplitLevels(key);
        if (std::any_of(levels.begin(), levels.end(), [](const std::string &l) { return l.empty(); })) continue;
        uint32_t parent = kRootFolderId;
        std::string prefix;
        for (const std::string &level : levels) {
            prefix += prefix.empty() ? level : "." + level;
            auto found = byKey_.find(prefix);
            parent = found != byKey_.end() ? found->second : AddNode(parent, DecodeFolderLevel(level), prefix);
        }
    }
}

bool MaildirStore::EnsureMaildir(FolderNode &node) {
    if (!node.ready) node.ready = MakeMaildir(node.dir, !node.key.empty());
    return node.ready;
}

bool MaildirStore::CreateFolder(uint32_t parent, const std::u16string &name, uint32_t *id) {
    if (parent >= nodes_.size() || name.empty()) return false;
    for (uint32_t child : nodes_[parent].children) {
        if (nodes_[child].name == name) {
            *id = child;
            return true;
        }
    }
    std::string level = nodes_[parent].key.empty() ? EncodeTopFolderLevel(name) : EncodeFolderLevel(name);
    std::string key = nodes_[parent].key.empty() ? level : nodes_[parent].key + "." + level;
    auto found = byKey_.find(key);
    uint32_t newId = found != byKey_.end() ? found->second : AddNode(parent, name, key);
    if (!EnsureMaildir(nodes_[newId])) return false;
    *id = newId;
    return true;
}

std::vector<std::string> MaildirStore::ListMessages(uint32_t folderId) const {
    std::vector<std::string> paths;
    const FolderNode *node = Find(folderId);
    if (!node) return paths;
    ListDirectory(node->dir + "/new", paths);
    ListDirectory(node->dir + "/cur", paths);
    std::sort(paths.begin(), paths.end(),
              [](const std::string &a, const std::string &b) { return BaseName(a) < BaseName(b); });
    return paths;
}

int MaildirStore::CountMessages(uint32_t folderId) const { return static_cast<int>(ListMessages(folderId).size()); }

// The counter is shared by every store object of the process, so two objects
// on one tree never hand out the same name.
std::string MaildirStore::UniqueName() {
    static const std::string host = SafeHostName();
    static std::atomic<unsigned> counter{0};
    static const int pid = static_cast<int>(getpid());
    struct timeval now;
    gettimeofday(&now, nullptr);
    char name[128];
    snprintf(name, sizeof name, "%lld.M%06ldP%dQ%u.", static_cast<long long>(now.tv_sec),
             static_cast<long>(now.tv_usec), pid, ++counter);
    return name + host;
}

std::string MaildirStore::NewTempPath(uint32_t folderId) {
    if (folderId >= nodes_.size() || !EnsureMaildir(nodes_[folderId])) return "";
    return nodes_[folderId].dir + "/tmp/" + UniqueName();
}

std::string MaildirStore::Deliver(uint32_t folderId, const std::string &tempPath, bool unread) {
    const FolderNode *node = Find(folderId);
    if (!node) return "";
    std::string target = node->dir + (unread ? "/new/" : "/cur/") + BaseName(tempPath) + (unread ? "" : ":2,S");
    if (rename(tempPath.c_str(), target.c_str()) != 0) return "";
    return target;
}

bool MaildirStore::IsUnreadPath(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash >= 4 && path.compare(slash - 4, 4, "/new") == 0) return true;
    size_t info = path.find(":2,", slash);
    if (info == std::string::npos) return true;
    return path.find('S', info + 3) == std::string::npos;
}

}  // namespace oeapi
