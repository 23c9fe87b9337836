#pragma once

// Test trees described as data: build one in a folder, read a folder back,
// and compare whole trees.

#include <sys/types.h>

#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace qvb::test {

struct TNode {
    enum Kind { File, Dir, Link };
    std::string path;     // relative, "/"-separated; a folder may end with "/"
    std::string content;  // file bytes, or the link target
    Kind kind = File;
    time_t mtime = 0;  // 0: leave as created
    long mtimeNsec = 0;
    mode_t mode = 0;  // 0: default (0644 files, 0755 folders)
};

inline TNode file(std::string path, std::string content = {}, time_t mtime = 0) {
    return TNode{std::move(path), std::move(content), TNode::File, mtime, 0, 0};
}
inline TNode dir(std::string path) {
    return TNode{std::move(path), {}, TNode::Dir, 0, 0, 0};
}
inline TNode link(std::string path, std::string target) {
    return TNode{std::move(path), std::move(target), TNode::Link, 0, 0, 0};
}

// Creates the nodes below root (missing parents are created).
void buildTree(const std::string& root, const std::vector<TNode>& nodes);

// What a folder holds: relative path -> a short description that includes the
// kind, the content (or link target) and, with `withTimes`, the modification
// time. Folders end with "/".
std::map<std::string, std::string> readTree(const std::string& root, bool withTimes = false);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content, time_t mtime = 0);
void setMtime(const std::string& path, time_t seconds, long nanoseconds = 0);
bool exists(const std::string& path);

}  // namespace qvb::test
