// A display for engine tests: records every message and spinner call in order.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "UpdaterDisplayInterface.h"

namespace updtest {

class RecordingDisplay : public UpdaterDisplayInterface {
public:
    struct Line {
        int level;
        std::string text;
        bool operator==(const Line& other) const { return level == other.level && text == other.text; }
    };

    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool show, const char* label) override { spinner.emplace_back(show, label ? label : ""); }
    void info_message(const char* text) override { lines.push_back({LEVEL_INFO, text}); }
    void error_message(const char* text) override { lines.push_back({LEVEL_ERROR, text}); }

    std::vector<std::string> texts(int level) const
    {
        std::vector<std::string> out;
        for (const Line& line : lines)
            if (line.level == level)
                out.push_back(line.text);
        return out;
    }
    std::vector<std::string> errors() const { return texts(LEVEL_ERROR); }
    std::vector<std::string> infos() const { return texts(LEVEL_INFO); }
    void clear()
    {
        lines.clear();
        spinner.clear();
    }

    std::vector<Line> lines;
    std::vector<std::pair<bool, std::string>> spinner;
};

inline std::ostream& operator<<(std::ostream& out, const RecordingDisplay::Line& line)
{
    return out << (line.level == UpdaterDisplayInterface::LEVEL_ERROR ? "E: " : "I: ") << line.text;
}

}  // namespace updtest
