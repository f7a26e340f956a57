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
};

#ifdef _WIN32
const char SEPARATOR = '\\';

std::filesystem::path PathOf(const std::string& utf8) { return std::filesystem::u8path(utf8); }

EntryInfo LookAt(const std::string& path) {
    EntryInfo info;
    std::error_code error;
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

struct Collector {
    std::vector<ReportTarget> targets;
    std::vector<std::string> identities;  // of each target, "" for an unreadable one
    std::set<std::string> folders_seen;

    void Add(const std::string& path, const EntryInfo& info) {
        ReportTarget target;
        target.path = path;
        target.size = info.size;
        target.readable = info.type == EntryType::FILE;
        targets.push_back(target);
        identities.push_back(target.readable ? info.identity : std::string());
    }

    // Depth first, each listing in bytewise order, so that which path first
    // reaches a folder seen twice never depends on the system's order.
    void Walk(const std::string& path, const EntryInfo& info) {
        if (!folders_seen.insert(info.identity).second) return;
        std::vector<std::string> names;
        if (!ListFolder(path, &names)) {
            Add(path, EntryInfo());
            return;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string child = Join(path, name);
            const EntryInfo child_info = LookAt(child);
            if (child_info.type == EntryType::FOLDER) {
                Walk(child, child_info);
            } else if (child_info.type != EntryType::OTHER) {
                Add(child, child_info);
            }
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
            collector.Walk(folder, info);
        } else {
            collector.Add(operand, info);
        }
    }
    // Bytewise order, then each file under its first path only.
    std::vector<size_t> order(collector.targets.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return collector.targets[a].path < collector.targets[b].path; });
    std::vector<ReportTarget> sorted;
    std::set<std::string> files_seen;
    std::set<std::string> paths_seen;
    for (size_t i : order) {
        const std::string& identity = collector.identities[i];
        if (!identity.empty() && !files_seen.insert(identity).second) continue;
        if (!paths_seen.insert(collector.targets[i].path).second) continue;
        sorted.push_back(collector.targets[i]);
    }
    return sorted;
}
