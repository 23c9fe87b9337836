#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvb {

// The counters of one copy operation and the German texts built from them.
class TCopyStatistics {
  public:
    std::vector<std::string> fLines;  // the lines of the last summaryText
    int32_t fAdded = 0;
    int32_t fReplaced = 0;
    int32_t fSkipped = 0;
    int32_t fNotCopied = 0;
    int32_t fDeleted = 0;
    int32_t fWarnings = 0;
    int32_t fErrors = 0;
    int32_t fNotDeleted = 0;
    int32_t fDirsDeleted = 0;
    int32_t fSourceFiles = 0;
    int32_t fDestFiles = 0;
    int32_t fSourceDirs = 0;
    int32_t fDestDirs = 0;
    int64_t fSourceBytes = 0;
    int64_t fDestBytes = 0;
    int32_t fCurrent = 0;
    int64_t fCopiedBytes = 0;
    // Created or replaced files that became links to a previous version's
    // copy; counted in fAdded or fReplaced as well.
    int32_t fLinked = 0;

    // Zeroes every counter and total; fLines stays.
    void reset();
    // Adds the other record's counters and totals; fCurrent takes its value.
    void addFrom(const TCopyStatistics& other);
    // The result lines as one comma text ("\"1 Datei hinzugefügt. \",...");
    // the lines themselves are left in fLines.
    std::string summaryText();
    std::string sourceFoundText() const;
    std::string destFoundText() const;
    std::string deletionText() const;
    // "1 Datei verknüpft." and the like; empty when nothing was linked.
    std::string linkedText() const;
    // Appends an "Abweichung: ..." line to `output` for every counter that differs
    // from `expected`; true when none does. A null list gives false.
    bool compareWith(const TCopyStatistics& expected, std::vector<std::string>* output) const;
};

}  // namespace qvb
