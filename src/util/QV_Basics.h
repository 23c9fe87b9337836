#pragma once

#include <string>
#include <string_view>

namespace qvb {

// The text up to and including the last `delimiter` before its final
// character: "/a/b/" and "/a/b" both give "/a/"; "/" gives "/".
std::string parentDir(const std::string& text, char delimiter = '/');

// True when both paths lie on the same file system (equal st_dev of each
// path, or of its nearest existing ancestor).
bool isSameDrive(const std::string& pathA, const std::string& pathB);

// Path helpers used throughout: "/a/b" -> "/a/b/".
std::string includeTrailingDelimiter(const std::string& path);
std::string excludeTrailingDelimiter(const std::string& path);
// "/a/b/c.txt" -> "/a/b/" and "c.txt".
std::string extractFilePath(std::string_view path);
std::string extractFileName(std::string_view path);
// `a` followed by `b`, made at its exact size ("/dest/" and "sub/a.txt").
std::string concat(std::string_view a, std::string_view b);
// Absolute path with "." and ".." resolved by text, relative to the current
// directory; a trailing delimiter is kept.
std::string expandFileName(const std::string& path);
// The nearest existing ancestor of `path` (the path itself when it exists).
std::string nearestExistingAncestor(const std::string& path);
// True when `path` names a folder (a link to one counts); false for "".
bool isDirectory(const std::string& path);
// The same, but a link to a folder is no folder (a trailing "/" is ignored).
bool isRealDirectory(const std::string& path);
// mkdir -p: true when the folder exists afterwards; a non-folder on the way,
// or an empty path, makes it fail.
bool forceDirectories(const std::string& path);

}  // namespace qvb
