#pragma once

// The protocol of the program: every line since the start (runs, cancel notes,
// self-test), handed to a sink as it is written (the window's view, standard
// output), and saved as one file on demand.

#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace qvb {

// Writes the lines of each part in turn, one per line, and replaces `path`
// atomically: a crash leaves either the old file or the complete new one.
// Parts, not one list, so that a caller can add lines to a long protocol
// without copying it.
bool saveLinesToFile(std::initializer_list<std::span<const std::string>> parts,
                     const std::string& path);

class TProtocol {
  public:
    using Sink = std::function<void(const std::string& line)>;

    // Appends one line; its control characters (of a file name, say) are
    // written escaped, so that nothing in it makes a line of its own.
    void append(const std::string& line);
    // Appends a text of the program's own, a line for each of its lines.
    void appendText(const std::string& text);
    void setSink(Sink sink) { fSink = std::move(sink); }

    const std::vector<std::string>& lines() const { return fLines; }
    bool empty() const { return fLines.empty(); }

    bool saveToFile(const std::string& path) const { return saveLinesToFile({fLines}, path); }
    // Saves to the first of `paths` that takes the file (a folder that
    // cannot be written passes on to the next); the path used, empty when
    // none did.
    std::string saveToFirstOf(const std::vector<std::string>& paths) const;

  private:
    void appendOne(std::string line);

    std::vector<std::string> fLines;
    Sink fSink;
};

}  // namespace qvb
