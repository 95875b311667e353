// The Maildir++ tree behind the store object.
//
// The root directory is itself a maildir (the root folder, id 0). Every other
// folder is a sub-maildir "<root>/.<level>.<level>..." with each level encoded
// by EncodeFolderLevel, so '.' is the hierarchy separator only. Folder ids are
// handed out when the tree is scanned or a folder is created and stay valid
// for the life of the store. A message lives in tmp/ until it is committed,
// then in new/ (unread) or in cur/ with the info ":2,S" (read).
#pragma once

#include <stdint.h>
#include <map>
#include <string>
#include <vector>

namespace oeapi {

constexpr uint32_t kRootFolderId = 0;

struct FolderNode {
    uint32_t id = 0;
    uint32_t parent = 0;
    std::u16string name;
    std::string key;  // encoded levels joined by '.'; empty for the root
    std::string dir;  // the folder's maildir
    std::vector<uint32_t> children;
    bool ready = false;  // the maildir and its sub-directories exist
};

class MaildirStore {
public:
    // Opens (creating when missing) the tree at root; nullptr when unusable.
    static MaildirStore *Open(const std::string &root);

    void AddRef() { refs_++; }
    void Release();

    const FolderNode *Find(uint32_t id) const;
    // Finds the child of that name or creates it; false on failure.
    bool CreateFolder(uint32_t parent, const std::u16string &name, uint32_t *id);

    // Message files: full paths of the committed messages, oldest name first.
    std::vector<std::string> ListMessages(uint32_t folderId) const;
    int CountMessages(uint32_t folderId) const;
    // A fresh file in the folder's tmp/ for writing; empty on failure.
    std::string NewTempPath(uint32_t folderId);
    // Moves a tmp/ file into new/ or cur/; returns the final path or "".
    std::string Deliver(uint32_t folderId, const std::string &tempPath, bool unread);
    static bool IsUnreadPath(const std::string &path);

private:
    explicit MaildirStore(const std::string &root) : root_(root) {}
    void Scan();
    uint32_t AddNode(uint32_t parent, const std::u16string &name, const std::string &key);
    bool EnsureMaildir(FolderNode &node);
    static std::string UniqueName();

    int refs_ = 1;
    std::string root_;
    std::vector<FolderNode> nodes_;  // index = id
    std::map<std::string, uint32_t> byKey_;
};

}  // namespace oeapi
