#include "run/CopyCheck.h"

#include <sys/stat.h>

namespace larkspool {

std::vector<std::string> StoredPages(const TLister& List, const std::string& Folder) {
    std::vector<std::string> pages;
    for (const TListerItem& item : List.Pages()) {
        struct stat info {};
        if (item.State != stRelinked || item.FileName.empty() ||
            ::stat((Folder + item.FileName).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (item.FileName == "INDEX.HTML")
            pages.insert(pages.begin(), item.FileName);
        else
            pages.push_back(item.FileName);
    }
    return pages;
}

std::vector<std::string> ProblemLines(const OfflineReport& Report) {
    std::vector<std::string> lines;
    for (const OfflinePage& page : Report.Pages)
        for (const OfflineProblem& problem : page.Problems)
            lines.push_back(page.File + ": " +
                            (problem.Resource.empty() ? problem.Reason
                                                      : problem.Resource + " — " + problem.Reason));
    return lines;
}

} // namespace larkspool
