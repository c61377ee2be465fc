// The shared library's interface: exactly the declared C functions (the
// entity functions and the three that open and close devices) leave it,
// under their plain names, and none of the registry's template code does.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "HeaderNames.h"

namespace {

struct Symbol {
    std::string type;
    std::string name;
};

// The dynamic symbol table as nm prints it: [address] type name.
std::vector<Symbol> dynamicSymbols(const std::string& options)
{
    std::vector<Symbol> symbols;
    const std::string command = "nm -D " + options + " '" + MORV_WRAPPERS_LIBRARY + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return symbols;
    char line[4096];
    while (std::fgets(line, sizeof(line), pipe) != nullptr) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        std::string part;
        while (fields >> part)
            parts.push_back(part);
        if (parts.size() >= 2)
            symbols.push_back({parts[parts.size() - 2], parts.back()});
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return symbols;
}

TEST(WrapperLibraryAbi, ExportsExactlyTheDeclaredFunctions)
{
    const std::set<std::string> declared = wraptest::declaredFunctions(MORV_WRAPPERS_HEADER);
    ASSERT_EQ(declared.size(), 234u);
    const std::set<std::string> host{"morv_connect", "morv_connectAddress", "morv_disconnect"};
    EXPECT_EQ(wraptest::declaredHostFunctions(MORV_WRAPPERS_HEADER), host);

    std::set<std::string> expected = declared;
    expected.insert(host.begin(), host.end());
    std::set<std::string> exported;
    for (const Symbol& s : dynamicSymbols("--defined-only")) {
        EXPECT_EQ(s.type, "T") << s.name << " is exported but is no function";
        exported.insert(s.name);
    }
    EXPECT_EQ(exported, expected);
}

TEST(WrapperLibraryAbi, NoRegistrySymbolIsVisible)
{
    const std::vector<Symbol> all = dynamicSymbols("");
    ASSERT_FALSE(all.empty());
    for (const Symbol& s : all) {
        EXPECT_EQ(s.name.find("morvMap"), std::string::npos) << s.name;
        EXPECT_EQ(s.name.find("CCAMap"), std::string::npos) << s.name;
        EXPECT_EQ(s.name.find("packResult"), std::string::npos) << s.name;
    }
}

}  // namespace
