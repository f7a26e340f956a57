// The files a report covers: the named files and every regular file under the
// named folders, each once, in bytewise order of their paths.
#ifndef KOV_TOOLS_RMRATE_REPORT_WALK_H
#define KOV_TOOLS_RMRATE_REPORT_WALK_H

#include <cstdint>
#include <string>
#include <vector>

struct ReportTarget {
    std::string path;
    uint64_t size = 0;
    // False for a name that cannot be read as a file: it cannot be looked
    // at (a broken link, no permission), a folder that cannot be listed, or
    // a named operand that is neither a file nor a folder.
    bool readable = true;
};

// Folders are walked recursively, symbolic links followed; a folder reached
// twice (a link loop, two links to one folder) is walked once, and a file
// reached under two paths is reported under the first of them. Inside a
// folder, anything but regular files and folders (pipes, devices, sockets)
// is left out.
std::vector<ReportTarget> CollectReportTargets(const std::vector<std::string>& operands);

#endif
