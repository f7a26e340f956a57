// Walking the named files and folders for a report: recursion, links, each file once, bytewise order.
#include "tools/rmrate/report_walk.h"

#include <algorithm>
#include <set>

#ifdef _WIN32
#include <filesystem>
#include <system_error>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace {

enum class EntryType { MISSING, FILE, FOLDER, OTHER };

struct EntryInfo {
    EntryType type = EntryType::MISSING;
    uint64_t size = 0;
    std::string identity;  // the same for every path to one file or folder
    bool link = false;     // the name itself is a symbolic link
};

#ifdef _WIN32
const char SEPARATOR = '\\';

std::filesystem::path PathOf(const std::string& utf8) { return std::filesystem::u8path(utf8); }

EntryInfo LookAt(const std::string& path) {
    EntryInfo info;
    std::error_code error;
    info.link = std::filesystem::is_symlink(std::filesystem::symlink_status(PathOf(path), error));
    const std::filesystem::file_status status = std::filesystem::status(PathOf(path), error);
    if (error) return info;
    if (std::filesystem::is_regular_file(status)) {
        info.type = EntryType::FILE;
        info.size = std::filesystem::file_size(PathOf(path), error);
        if (error) info.size = 0;
    } else if (std::filesystem::is_directory(status)) {
        info.type = EntryType::FOLDER;
    } else {
        info.type = status.type() == std::filesystem::file_type::not_found ? EntryType::MISSING : EntryType::OTHER;
        return info;
    }
    // Links and junctions resolved: one name for one place.
    const std::filesystem::path canonical = std::filesystem::canonical(PathOf(path), error);
    info.identity = error ? path : canonical.u8string();
    return info;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names) {
    std::error_code error;
    std::filesystem::directory_iterator entries(PathOf(path), error);
    if (error) return false;
    for (const std::filesystem::directory_entry& entry : entries) names->push_back(entry.path().filename().u8string());
    return true;
}
#else
const char SEPARATOR = '/';

EntryInfo LookAt(const std::string& path) {
    EntryInfo info;
    struct stat status;
    info.link = lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
    if (stat(path.c_str(), &status) != 0) return info;
    if (S_ISREG(status.st_mode)) {
        info.type = EntryType::FILE;
        info.size = status.st_size > 0 ? uint64_t(status.st_size) : 0;
    } else if (S_ISDIR(status.st_mode)) {
        info.type = EntryType::FOLDER;
    } else {
        info.type = EntryType::OTHER;
    }
    info.identity = std::to_string(uint64_t(status.st_dev)) + ":" + std::to_string(uint64_t(status.st_ino));
    return info;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names) {
    DIR* folder = opendir(path.c_str());
    if (!folder) return false;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    closedir(folder);
    return true;
}
#endif

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '/' || (SEPARATOR == '\\' && path.back() == '\\'));
}

std::string Join(const std::string& folder, const std::string& name) {
    return EndsWithSeparator(folder) ? folder + name : folder + SEPARATOR + name;
}

struct Candidate {
    ReportTarget target;
    std::string identity;  // "" for an unreadable one
    bool via_link;         // reached through a symbolic link
};

struct Collector {
    std::vector<Candidate> candidates;
    std::set<std::string> folders_seen;
    // Folders reached through a link, walked once every folder reached
    // without one is: a link never claims a folder that has a plain path.
    std::vector<std::pair<std::string, EntryInfo>> linked_folders;

    void Add(const std::string& path, const EntryInfo& info, bool via_link) {
        Candidate candidate;
        candidate.target.path = path;
        candidate.target.size = info.size;
        candidate.target.readable = info.type == EntryType::FILE;
        candidate.identity = candidate.target.readable ? info.identity : std::string();
        candidate.via_link = via_link || info.link;
        candidates.push_back(candidate);
    }

    // Depth first, each listing in bytewise order, so that which path first
    // reaches a folder seen twice never depends on the system's order.
    void Walk(const std::string& path, const EntryInfo& info, bool via_link) {
        if (!folders_seen.insert(info.identity).second) return;
        std::vector<std::string> names;
        if (!ListFolder(path, &names)) {
            Add(path, EntryInfo(), via_link);
            return;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string child = Join(path, name);
            EntryInfo child_info = LookAt(child);
            if (child_info.type == EntryType::FOLDER) {
                if (child_info.link || via_link) {
                    child_info.link = true;
                    linked_folders.push_back({child, child_info});
                } else {
                    Walk(child, child_info, false);
                }
            } else if (child_info.type != EntryType::OTHER) {
                Add(child, child_info, via_link);
            }
        }
    }

    void WalkLinkedFolders() {
        for (size_t i = 0; i < linked_folders.size(); ++i) {
            const std::pair<std::string, EntryInfo> folder = linked_folders[i];
            Walk(folder.first, folder.second, true);
        }
    }
};

}  // namespace

std::vector<ReportTarget> CollectReportTargets(const std::vector<std::string>& operands) {
    Collector collector;
    for (const std::string& operand : operands) {
        const EntryInfo info = LookAt(operand);
        if (info.type == EntryType::FOLDER) {
            // "tree/" and "tree" name the same files.
            std::string folder = operand;
            while (folder.size() > 1 && EndsWithSeparator(folder)) folder.pop_back();
            collector.Walk(folder, info, false);
        } else {
            collector.Add(operand, info, false);
        }
    }
    collector.WalkLinkedFolders();
    // Each file under one path: one that goes through no link if it has
    // one, the bytewise first among those; then all in bytewise order.
    std::vector<Candidate>& all = collector.candidates;
    std::stable_sort(all.begin(), all.end(), [](const Candidate& a, const Candidate& b) {
        return a.via_link != b.via_link ? !a.via_link : a.target.path < b.target.path;
    });
    std::vector<ReportTarget> targets;
    std::set<std::string> files_seen;
    std::set<std::string> paths_seen;
    for (const Candidate& candidate : all) {
        if (!candidate.identity.empty() && !files_seen.insert(candidate.identity).second) continue;
        if (!paths_seen.insert(candidate.target.path).second) continue;
        targets.push_back(candidate.target);
    }
    std::sort(targets.begin(), targets.end(),
              [](const ReportTarget& a, const ReportTarget& b) { return a.path < b.path; });
    return targets;
}
