// The README's description of the job file names every value a job record
// stores, and nothing else.

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "jobs/CopyJobStorage.h"
#include "support/Tree.h"

namespace qvb {
namespace {

// The value names in the first column of the section's table; "Quelle0",
// "Quelle1", ... stand for the list "Quelle".
std::set<std::string> documentedJobValues() {
    const std::string readme = test::readFile(std::string(QVB_SOURCE_DIR) + "/README.md");
    const size_t begin = readme.find("\n## The job file format\n");
    const size_t end = readme.find("\n## ", begin + 1);
    std::set<std::string> names;
    size_t row = readme.find("\n| `", begin);
    for (; row < end; row = readme.find("\n| `", row + 1)) {
        const std::string cell = readme.substr(row + 3, readme.find(" |", row + 3) - row - 3);
        // Every `name` of the first column, digits at its end dropped.
        for (size_t open = cell.find('`'), close;
             open != std::string::npos && (close = cell.find('`', open + 1)) != std::string::npos;
             open = cell.find('`', close + 1)) {
            std::string name = cell.substr(open + 1, close - open - 1);
            while (!name.empty() && std::isdigit(static_cast<unsigned char>(name.back())))
                name.pop_back();
            names.insert(name);
        }
    }
    return names;
}

TEST(JobFileDocumentation, NamesExactlyTheStoredValues) {
    const std::vector<std::string> stored = storedJobValueNames();
    EXPECT_EQ(documentedJobValues(), std::set<std::string>(stored.begin(), stored.end()));
}

}  // namespace
}  // namespace qvb
