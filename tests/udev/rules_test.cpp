// The udev rule file, matched as udev matches it: every match key of a rule against the
// device's value, each '|' alternative a glob (fnmatch, as udev uses). A rule that matches
// and sets MODE, GROUP, OWNER or TAG gives the device to users other than root; that must
// be exactly the devices the library opens, the modules by the library's own vendor id and
// product limit, and the NXP boot ROM.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fnmatch.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "aUSBDriver.h"

namespace {

struct Key {
    std::string name;  // e.g. ATTR{idVendor}
    std::string op;    // ==, !=, =, +=, -=, :=
    std::string value;
};
using Rule = std::vector<Key>;

// Reads one key at text[at...]; false (with at unchanged) on anything else.
bool readKey(const std::string& text, std::size_t& at, Key& key)
{
    std::size_t i = at;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_'))
        ++i;
    if (i == at)
        return false;
    if (i < text.size() && text[i] == '{') {
        const std::size_t close = text.find('}', i);
        if (close == std::string::npos)
            return false;
        i = close + 1;
    }
    key.name = text.substr(at, i - at);
    while (i < text.size() && text[i] == ' ')
        ++i;
    static const char* const kOps[] = {"==", "!=", "+=", "-=", ":=", "="};
    key.op.clear();
    for (const char* op : kOps) {
        if (text.compare(i, std::char_traits<char>::length(op), op) == 0) {
            key.op = op;
            break;
        }
    }
    if (key.op.empty())
        return false;
    i += key.op.size();
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i >= text.size() || text[i] != '"')
        return false;
    const std::size_t close = text.find('"', i + 1);
    if (close == std::string::npos)
        return false;
    key.value = text.substr(i + 1, close - i - 1);
    at = close + 1;
    return true;
}

// The rules of a file, one a line (no continuation lines in ours); comments and blank
// lines left out. A line that does not parse fails the test.
std::vector<Rule> parseRules(const std::string& path)
{
    std::ifstream file(path);
    EXPECT_TRUE(file) << path;
    std::vector<Rule> rules;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        EXPECT_NE(line.back(), '\\') << "line " << number << ": continuation lines are not read here";
        Rule rule;
        std::size_t at = start;
        while (at < line.size()) {
            while (at < line.size() && (line[at] == ' ' || line[at] == ','))
                ++at;
            if (at == line.size())
                break;
            Key key;
            if (!readKey(line, at, key)) {
                ADD_FAILURE() << "line " << number << " does not parse at column " << at + 1 << ": " << line;
                break;
            }
            // Jumps would make a rule's effect depend on the ones around it.
            EXPECT_TRUE(key.name != "GOTO" && key.name != "LABEL") << "line " << number;
            rule.push_back(key);
        }
        rules.push_back(rule);
    }
    return rules;
}

// A device as udev sees it: its values by key name (SUBSYSTEM, KERNEL, ENV{DEVTYPE},
// ATTR{idVendor}, and ATTRS{...} for its USB parent's attributes). A key it lacks is "".
using Device = std::map<std::string, std::string>;

bool matchesPattern(const std::string& pattern, const std::string& value)
{
    std::stringstream alternatives(pattern);
    std::string alternative;
    while (std::getline(alternatives, alternative, '|')) {
        if (fnmatch(alternative.c_str(), value.c_str(), 0) == 0)
            return true;
    }
    return false;
}

bool ruleMatches(const Rule& rule, const Device& device)
{
    for (const Key& key : rule) {
        if (key.op != "==" && key.op != "!=")
            continue;
        const auto found = device.find(key.name);
        const std::string value = found == device.end() ? "" : found->second;
        if (matchesPattern(key.value, value) != (key.op == "=="))
            return false;
    }
    return true;
}

bool grantsAccess(const Rule& rule)
{
    for (const Key& key : rule) {
        if (key.op != "==" && key.op != "!=" &&
            (key.name == "MODE" || key.name == "GROUP" || key.name == "OWNER" || key.name == "TAG"))
            return true;
    }
    return false;
}

// Whether any rule of the file hands the device to users other than root.
bool granted(const std::vector<Rule>& rules, const Device& device)
{
    for (const Rule& rule : rules) {
        if (grantsAccess(rule) && ruleMatches(rule, device))
            return true;
    }
    return false;
}

// sysfs shows USB ids as four lower-case hex digits.
std::string hex4(unsigned id)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", id & 0xFFFFu);
    return text;
}

Device usbDevice(unsigned vendor, unsigned product)
{
    return {{"SUBSYSTEM", "usb"},
            {"ENV{DEVTYPE}", "usb_device"},
            {"KERNEL", "1-1"},
            {"ATTR{idVendor}", hex4(vendor)},
            {"ATTR{idProduct}", hex4(product)},
            {"ATTRS{idVendor}", hex4(vendor)},
            {"ATTRS{idProduct}", hex4(product)}};
}

// A hidraw node below a USB device: the ids are its parent's.
Device hidrawBelow(unsigned vendor, unsigned product)
{
    return {{"SUBSYSTEM", "hidraw"},
            {"KERNEL", "hidraw0"},
            {"ATTRS{idVendor}", hex4(vendor)},
            {"ATTRS{idProduct}", hex4(product)}};
}

const std::vector<Rule>& rules()
{
    static const std::vector<Rule> parsed = parseRules(MORV_UDEV_RULES_FILE);
    return parsed;
}

struct DeviceCase {
    const char* name;
    Device device;
    bool expected;
};
void PrintTo(const DeviceCase& c, std::ostream* os)
{
    *os << c.name;
}

class RuleAccess : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(RuleAccess, GivenExactlyWhatTheLibraryOpens)
{
    ASSERT_FALSE(rules().empty());
    EXPECT_EQ(granted(rules(), GetParam().device), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, RuleAccess,
    ::testing::Values(DeviceCase{"Module0001", usbDevice(0x2B9E, 0x0001), true},
                      DeviceCase{"Module7fff", usbDevice(0x2B9E, 0x7FFF), true},
                      DeviceCase{"Maker8000", usbDevice(0x2B9E, 0x8000), false},
                      DeviceCase{"Maker8001", usbDevice(0x2B9E, 0x8001), false},
                      DeviceCase{"Makerffff", usbDevice(0x2B9E, 0xFFFF), false},
                      DeviceCase{"BootRom", usbDevice(0x1FC9, 0x0130), true},
                      DeviceCase{"BootRomHidraw", hidrawBelow(0x1FC9, 0x0130), true},
                      DeviceCase{"OtherNxpProduct", usbDevice(0x1FC9, 0x0131), false},
                      DeviceCase{"OtherVendor", usbDevice(0x1D6B, 0x0002), false},
                      DeviceCase{"OtherVendorHidraw", hidrawBelow(0x046D, 0xC52B), false},
                      DeviceCase{"KernelDriverNode",
                                 Device{{"SUBSYSTEM", "morvasset"}, {"KERNEL", "morvasset.1A2B3C4D"}}, true}),
    [](const ::testing::TestParamInfo<DeviceCase>& info) { return info.param.name; });

// Every product id of the maker's vendor id: the rule agrees with the library's limit.
TEST(RuleAccess, EveryProductOfTheVendorAsTheLibraryCountsModules)
{
    ASSERT_FALSE(rules().empty());
    int disagreements = 0;
    for (unsigned product = 0; product <= 0xFFFFu; ++product) {
        const bool module = product < MORVASSET_USB_PRODUCT_LIMIT;
        if (granted(rules(), usbDevice(MORVASSET_USB_VENDOR_ID, product)) != module && ++disagreements <= 5)
            ADD_FAILURE() << hex4(MORVASSET_USB_VENDOR_ID) << ":" << hex4(product) << (module ? " is" : " is not")
                          << " a module to the library, yet the rule " << (module ? "misses" : "grants") << " it";
    }
    EXPECT_EQ(disagreements, 0);
}

}  // namespace
