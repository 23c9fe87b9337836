#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qvb {
namespace {

namespace fs = std::filesystem;

// Lower layers never include higher ones.
const std::map<std::string, int> kRank = {
    {"util", 0},     {"engine", 1},  {"platform", 2}, {"jobs", 3}, {"runcontrol", 4},
    {"selftest", 5}, {"session", 6}, {"ui", 7},       {"app", 8},
};
// Allowed by the order, yet kept apart: both faces ask their session for all
// that the platform knows.
const std::set<std::pair<std::string, std::string>> kApart = {{"ui", "platform"},
                                                              {"app", "platform"}};

// The project's own includes of a file ("jobs/CopyJob.h"), in file order.
std::vector<std::string> ownIncludes(const fs::path& file) {
    std::vector<std::string> found;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("#include \"", 0) != 0) continue;
        const std::string name = line.substr(10, line.find('"', 10) - 10);
        if (kRank.count(name.substr(0, name.find('/'))) && name.find('/') != std::string::npos)
            found.push_back(name);
    }
    return found;
}

using Graph = std::map<std::string, std::vector<std::string>>;

bool reachesBack(const Graph& graph, const std::string& node, std::set<std::string>& open,
                 std::set<std::string>& done, std::string& cycle) {
    if (done.count(node)) return false;
    if (!open.insert(node).second) {
        cycle = node;
        return true;
    }
    const auto edges = graph.find(node);
    if (edges != graph.end())
        for (const std::string& next : edges->second)
            if (reachesBack(graph, next, open, done, cycle)) return true;
    open.erase(node);
    done.insert(node);
    return false;
}

TEST(LayerOrder, IncludesRunDownwardOnlyAndNeverInACircle) {
    const fs::path src = fs::path(QVB_SOURCE_DIR) / "src";
    std::vector<std::string> wrong;
    Graph graph;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp") continue;
        const std::string own = fs::relative(entry.path(), src).string();
        const std::string layer = own.substr(0, own.find('/'));
        ASSERT_TRUE(kRank.count(layer)) << own << " lies in no layer";
        for (const std::string& name : ownIncludes(entry.path())) {
            const std::string target = name.substr(0, name.find('/'));
            if (kRank.at(target) > kRank.at(layer) || kApart.count({layer, target}))
                wrong.push_back(own + " includes " + name);
            if (ext == ".h") graph[own].push_back(name);
        }
    }
    EXPECT_TRUE(wrong.empty()) << wrong.front();
    std::set<std::string> open, done;
    std::string cycle;
    for (const auto& [node, edges] : graph)
        EXPECT_FALSE(reachesBack(graph, node, open, done, cycle)) << "circle through " << cycle;
}

}  // namespace
}  // namespace qvb
