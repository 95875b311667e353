// bvhost: the command-line host of the connector module.
//
//   bvhost folders --source KIND:PATH
//   bvhost migrate --source KIND:PATH --target KIND:PATH [--folder N ...]
//   bvhost dump    --source KIND:PATH --out FILE.jsonl [--folder N ...]
//   bvhost find-store DIR [--answer yes|no|cancel]
//
// Exit status: 0 success; 1 the module failed (logon or a folder; the
// message names its result); 2 a usage error (unknown kind, missing path).
#include <signal.h>
#include <stdlib.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <system_error>

#include "host/endpoints.h"
#include "host/folder_run.h"
#include "host/host_session.h"
#include "host/module_instance.h"
#include "host/store_search.h"
#include "platform/platform.h"
#include "record/com.h"

namespace fs = std::filesystem;
using namespace bvhost;

namespace {

const int kExitModuleFailure = 1;  // also: an item failed
const int kExitUsage = 2;
const char kRegisterFileName[] = "bvole-register.txt";

struct CommandLine {
    std::string source, target, out, switches, tag, workDir, logFile, stateFile;
    bool switchesGiven = false, upcoming = false, keepWork = false, verbose = false, insecure = false;
    int maxRead = -1;
    std::vector<int> folders;
};

// A memory file system takes the default work directory when it has this
// much room: every message passes through its part files there.
const unsigned long long kMinScratchFree = 256ull << 20;

// Where the default work directory goes: $XDG_RUNTIME_DIR, then /dev/shm,
// when writable with room to spare (part files then never touch the disk),
// else the system temp directory ($TMPDIR).
fs::path ScratchParent() {
    std::error_code ec;
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    for (const char *candidate : {runtime, "/dev/shm"}) {
        if (!candidate || !*candidate || !fs::is_directory(candidate, ec) || access(candidate, W_OK) != 0) continue;
        struct statvfs room;
        if (statvfs(candidate, &room) == 0 && (unsigned long long)room.f_bavail * room.f_frsize >= kMinScratchFree)
            return candidate;
    }
    return fs::temp_directory_path(ec);
}

// The work directory: the one given (kept), or a fresh one on a memory file
// system when one is usable (removed at exit unless --keep-work).
class WorkDirectory {
public:
    bool Prepare(const CommandLine &line, std::string *error) {
        std::error_code ec;
        if (!line.workDir.empty()) {
            path_ = fs::absolute(line.workDir, ec).string();
            fs::create_directories(path_, ec);
            if (!fs::is_directory(path_, ec)) {
                *error = "cannot use the work directory " + path_;
                return false;
            }
            remove_ = false;
        } else {
            fs::path parent = ScratchParent();
            std::string pattern = (parent / "bvhost-XXXXXX").string();
            if (!mkdtemp(pattern.data())) {
                *error = "cannot create a work directory under " + parent.string();
                return false;
            }
            path_ = pattern;
            remove_ = !line.keepWork;
        }
        if (path_.back() != '/') path_ += '/';
        return true;
    }
    ~WorkDirectory() {
        std::error_code ec;
        if (remove_ && !path_.empty()) fs::remove_all(path_, ec);
    }
    const std::string &path() const { return path_; }
    bool removed() const { return remove_; }

private:
    std::string path_;
    bool remove_ = false;
};

// The duplicate register: --state, else kept with a migration's target (in
// the Maildir root, or beside a CSV or calendar file), so that a second run
// into the same target skips what the first moved; else in the work directory.
std::string RegisterPathFor(const CommandLine &line, const Endpoint *target) {
    std::error_code ec;
    if (!line.stateFile.empty()) return fs::absolute(line.stateFile, ec).string();
    if (!target || target->kind.empty()) return "";
    if (target->kind == "oe") return (fs::path(target->path) / kRegisterFileName).string();
    return target->path + "." + kRegisterFileName;
}

// A contacts or calendar target file is written afresh by every run (the
// module deletes it at logon), so the register kept beside it would make a
// second run skip items the new file then lacks: it starts afresh with the
// file. A register named by --state is the user's; the run only warns.
void ForgetRegisterOfFileTarget(const CommandLine &line, const Endpoint &target) {
    std::error_code ec;
    if (target.kind == "oe") return;
    if (line.stateFile.empty()) {
        fs::remove(RegisterPathFor(line, &target), ec);
        return;
    }
    if (!fs::exists(target.path, ec)) return;
    std::cerr << "bvhost: warning: " << target.path << " is written afresh; what " << line.stateFile
              << " names as moved is skipped and will not be in it\n";
}

void ConfigureLibrary(const CommandLine &line, const WorkDirectory &work, const Endpoint *target) {
    bvcom_SetWorkDir(work.path().c_str());
    bvcom_SetDuplicateRegister(RegisterPathFor(line, target).c_str());
    bvcom_SetHostSetting(6, work.path().c_str());
    std::string log = line.logFile.empty() ? work.path() + "bvhost.log" : line.logFile;
    bvcom_SetLogFile(log.c_str());
    bvcom_SetLogEcho(line.verbose ? 1 : 0);
}

HostOptions OptionsFrom(const CommandLine &line, const WorkDirectory &work) {
    HostOptions options;
    options.switches = line.switches;
    options.switchesGiven = line.switchesGiven;
    options.tag = line.tag;
    options.upcoming = line.upcoming;
    options.insecure = line.insecure;
    options.workDir = work.path();
    options.verbose = line.verbose;
    if (line.maxRead >= 0) options.maxRead = line.maxRead;
    return options;
}

std::unique_ptr<ModuleSession> OpenSession(const Endpoint &endpoint, bool isSource, bool privateCopy,
                                           const HostOptions &options, int *result) {
    std::string error;
    auto module = ModuleInstance::Load(DefaultModulePath(), privateCopy, &error);
    if (!module) {
        std::cerr << "bvhost: " << error << "\n";
        *result = kExitModuleFailure;
        return nullptr;
    }
    auto session = std::make_unique<ModuleSession>(std::move(module), endpoint, isSource);
    int logon = session->Logon(options);
    if (logon != 0) {
        std::cerr << "bvhost: Logon of the " << (isSource ? "source " : "target ") << endpoint.kind << ":"
                  << endpoint.path << " failed: result " << logon << " (" << LogonResultText(logon) << ")\n";
        *result = kExitModuleFailure;
        return nullptr;
    }
    *result = 0;
    return session;
}

int RunCommand(const std::string &command, const CommandLine &line) {
    Endpoint source, target;
    std::string error;
    if (!ParseEndpoint(line.source, false, line.tag, &source, &error)) {
        std::cerr << "bvhost: " << error << "\n";
        return kExitUsage;
    }
    if (command == "migrate" && !ParseEndpoint(line.target, true, "", &target, &error)) {
        std::cerr << "bvhost: " << error << "\n";
        return kExitUsage;
    }
    WorkDirectory work;
    if (!work.Prepare(line, &error)) {
        std::cerr << "bvhost: " << error << "\n";
        return kExitUsage;
    }
    if (command == "migrate") ForgetRegisterOfFileTarget(line, target);
    ConfigureLibrary(line, work, command == "migrate" ? &target : nullptr);
    HostOptions options = OptionsFrom(line, work);

    int result = 0;
    auto sourceSession = OpenSession(source, true, false, options, &result);
    if (!sourceSession) return result;
    std::vector<FolderInfo> folders = sourceSession->ListFolders();
    if (command == "folders") {
        for (const FolderInfo &folder : folders) std::cout << folder.text << "\n";
        std::cerr << "summary: " << folders.size() << " folders\n";
        return 0;
    }

    std::unique_ptr<ModuleSession> targetSession;
    if (command == "migrate") {
        // A second, independent instance of the module: its own copy of the image.
        targetSession = OpenSession(target, false, true, options, &result);
        if (!targetSession) return result;
    }
    std::ofstream dump;
    if (command == "dump") {
        dump.open(line.out, std::ios::binary | std::ios::trunc);
        if (!dump) {
            std::cerr << "bvhost: cannot write " << line.out << "\n";
            return kExitUsage;
        }
    }
    RunSettings settings;
    settings.folders = line.folders;
    settings.dump = command == "dump" ? &dump : nullptr;
    settings.target = targetSession.get();
    settings.progress = isatty(STDERR_FILENO) != 0;
    settings.workDir = work.path();
    settings.maxRead = options.maxRead;
    RunTotals totals;
    if (!RunFolders(*sourceSession, folders, settings, &totals, std::cout)) return kExitUsage;
    if (targetSession) targetSession->Logoff();
    sourceSession->Logoff();
    totals.warnings = bvcom_WarningCount();
    std::cout << SummaryLine(totals) << "\n" << FailedItemLines(totals);
    if (!work.removed()) std::cerr << "bvhost: work directory kept: " << work.path() << "\n";
    if (totals.foldersFailed) std::cerr << "bvhost: " << totals.foldersFailed << " folder(s) failed\n";
    if (!totals.failed.empty()) std::cerr << "bvhost: " << totals.failed.size() << " item(s) failed\n";
    return totals.foldersFailed || !totals.failed.empty() ? kExitModuleFailure : 0;
}

// The first Ctrl-C lets the module end the folder cleanly; a second one
// ends the program at once.
void OnInterrupt(int) {
    RequestStop();
    signal(SIGINT, SIG_DFL);
}

void AddCommonOptions(CLI::App *command, CommandLine &line) {
    command->add_option("--source", line.source, "the source as KIND:PATH (oe-dir, oe, contacts, calendar, tasks, kerio)")
        ->required();
    command->add_option("--switches", line.switches, "the connector's switch string, e.g. \"/DEBUG /GN Archive\"");
    command->add_option("--tag", line.tag, "the four-letter variant: CSVZ, VCSZ, VCSG, VCSK");
    command->add_flag("--upcoming", line.upcoming, "calendar: upcoming events only (the logon check box)");
    command->add_flag("--insecure", line.insecure,
                      "downloads: do not verify the server's TLS certificate (a self-signed server; adds /INSECURE)");
    command->add_option("--work-dir", line.workDir, "work directory for part files (default: a fresh directory on a "
                                                    "memory file system when one is usable, else under $TMPDIR)");
    command->add_option("--state", line.stateFile, "the duplicate register that lets a second run resume (default: "
                                                   "kept with the target; a dump keeps none)");
    command->add_flag("--keep-work", line.keepWork, "keep the default work directory");
    command->add_option("--log", line.logFile, "the module's log file (default: bvhost.log in the work directory)");
    command->add_flag("--verbose", line.verbose, "echo the module's log on stderr");
    command->add_option("--max-read", line.maxRead,
                        "most items handed over per folder (the module stops after one item for 0)");
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"bvhost: runs the bvole connector module from the command line"};
    app.require_subcommand(1);
    CommandLine line;

    CLI::App *folders = app.add_subcommand("folders", "log on to a source and list its folders");
    AddCommonOptions(folders, line);

    CLI::App *migrate = app.add_subcommand("migrate", "move every item of the chosen folders from source to target");
    AddCommonOptions(migrate, line);
    migrate->add_option("--target", line.target, "the target as KIND:PATH (oe, contacts, calendar, tasks)")
        ->required();
    migrate->add_option("--folder", line.folders, "folder numbers to move (default: all)");

    CLI::App *dump = app.add_subcommand("dump", "write every item the source hands over as JSON Lines");
    AddCommonOptions(dump, line);
    dump->add_option("--out", line.out, "the JSON Lines file to write")->required();
    dump->add_option("--folder", line.folders, "folder numbers to dump (default: all)");

    std::string findRoot, findAnswer;
    CLI::App *findStore =
        app.add_subcommand("find-store", "offer every file below DIR to the module's store location search");
    findStore->add_option("DIR", findRoot, "the directory to walk")->required();
    findStore->add_option("--answer", findAnswer, "answer every question so instead of asking on the terminal")
        ->check(CLI::IsMember({"yes", "no", "cancel"}));

    app.footer(
        "KIND:PATH  sources: oe-dir:DIR (DBX/MBX files, /OED implied), oe:DIR (Maildir store root),\n"
        "           contacts:FILE|URL, calendar:FILE|DIR|MASK|URL, tasks:FILE|DIR|MASK|URL, kerio:DIR\n"
        "           targets: oe:DIR, contacts:FILE.csv, calendar:FILE.vcs|.ics, tasks:FILE.vcs|.ics\n"
        "Switches that the module accepts but that change nothing yet: /D179 /D47\n"
        "Exit status: 0 success, 1 the module failed (its result is named) or an item failed (named in the\n"
        "summary), 2 usage error.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }
    if (findStore->parsed()) return RunFindStore(findRoot, findAnswer);
    for (CLI::App *command : {folders, migrate, dump}) {
        if (command->parsed()) line.switchesGiven = command->count("--switches") > 0;
    }
    signal(SIGINT, OnInterrupt);
    std::string command = folders->parsed() ? "folders" : migrate->parsed() ? "migrate" : "dump";
    return RunCommand(command, line);
}
