// Loads arbitrary bytes as a settings file, then checks that saving and
// reloading keeps every pair that a line can carry and that a second round
// changes nothing.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "KeyValueStore.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::string directory() {
    static std::string dir;
    if (dir.empty()) {
        // Memory-backed when there is such a place: every run writes and renames files.
        const char* base = std::getenv("TMPDIR");
        if (base == nullptr || *base == '\0') base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/settings-fuzz-XXXXXX";
        check(mkdtemp(&pattern[0]) != nullptr);
        dir = pattern;
        std::atexit([] {
            for (const char* name : {"/input", "/first", "/second", "/third"}) unlink((dir + name).c_str());
            rmdir(dir.c_str());
        });
    }
    return dir;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    check(static_cast<bool>(in));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether "key=value\n" reads back as the same pair.
bool survivesALine(const std::string& key, const std::string& value) {
    const size_t length = key.size() + value.size() + 2;
    return length >= 3 && length <= 2047 && (key.empty() || key[0] != '#');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string dir = directory();
    const std::string input = dir + "/input", first = dir + "/first", second = dir + "/second",
                      third = dir + "/third";
    {
        FILE* out = std::fopen(input.c_str(), "wb");
        check(out != nullptr);
        check(size == 0 || std::fwrite(data, 1, size, out) == size);
        check(std::fclose(out) == 0);
    }

    KeyValueStore loaded(input.c_str());
    check(!loaded.IsDirty());
    // An existing file is read, never recreated with time stamps.
    check(contents(input) == std::string(reinterpret_cast<const char*>(data), size));
    for (const auto& pair : loaded.Pairs()) {
        check(pair.first.find('=') == std::string::npos);
        check(pair.first.find('\n') == std::string::npos && pair.second.find('\n') == std::string::npos);
    }
    {
        KeyValueStore typed = loaded;
        for (const auto& pair : loaded.Pairs()) {
            typed.GetInt(pair.first.c_str(), 0);
            typed.GetHex(pair.first.c_str(), 0);
            typed.GetBOOL(pair.first.c_str(), false);
            typed.GetDouble(pair.first.c_str(), 0.0);
        }
    }

    check(loaded.Save(first.c_str()));
    KeyValueStore reread(first.c_str());
    // Nothing invented or changed; nothing lost that a line can carry.
    for (const auto& pair : reread.Pairs()) {
        const auto found = loaded.Pairs().find(pair.first);
        check(found != loaded.Pairs().end() && found->second == pair.second);
    }
    for (const auto& pair : loaded.Pairs())
        if (survivesALine(pair.first, pair.second)) check(reread.Pairs().count(pair.first) == 1);

    // From there on a round is exact.
    check(reread.Save(second.c_str()));
    KeyValueStore again(second.c_str());
    check(again.Pairs() == reread.Pairs());
    check(again.Save(third.c_str()));
    check(contents(second) == contents(third));
    return 0;
}
