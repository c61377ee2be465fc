// Option table, option parser and the parse into Parameters.
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "FdCapture.h"
#include "Log.h"

namespace {

// A mutable argument vector built from words.
class Argv {
public:
    explicit Argv(std::vector<std::string> words) : words_(std::move(words))
    {
        for (auto& w : words_)
            pointers_.push_back(&w[0]);
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words_.size()); }
    char** argv() { return pointers_.data(); }
    std::vector<std::string> order() const
    {
        std::vector<std::string> out;
        for (size_t i = 0; i + 1 < pointers_.size(); ++i)
            out.emplace_back(pointers_[i]);
        return out;
    }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// Trace output into a memory stream, package mask cleared around each test.
class TraceCapture {
public:
    TraceCapture()
    {
        Log::DeactivatePackage(0xFFFFFFFFu);
        stream_ = open_memstream(&data_, &size_);
        Log::SetOutput(stream_);
    }
    ~TraceCapture()
    {
        Log::SetOutput(nullptr);
        Log::DeactivatePackage(0xFFFFFFFFu);
        if (stream_ != nullptr)
            fclose(stream_);
        free(data_);
    }
    std::string text()
    {
        fflush(stream_);
        return std::string(data_, size_);
    }
    // Whether lines of the package are now written.
    bool enabled(unsigned package)
    {
        const size_t before = (fflush(stream_), size_);
        Log::log(package, "probe\n");
        fflush(stream_);
        return size_ != before;
    }

private:
    FILE* stream_ = nullptr;
    char* data_ = nullptr;
    size_t size_ = 0;
};

struct ParseResult {
    int rc = -1;
    std::string errors; // what the display wrote to standard error
    std::string output; // and to standard output
    std::vector<std::string> order;
};

ParseResult parse(CLI_Display& display, Parameters& params, std::vector<std::string> args)
{
    args.insert(args.begin(), "/usr/local/bin/Updater");
    Argv argv(args);
    ParseResult r;
    morvtest::FdCapture err(2);
    morvtest::FdCapture out(1);
    r.rc = _get_params(display, argv.argc(), argv.argv(), &params);
    r.output = out.finish();
    r.errors = err.finish();
    r.order = argv.order();
    return r;
}

// --- option table ---------------------------------------------------------

TEST(OptionTable, HoldsEveryOptionInOrder)
{
    struct Entry {
        int id;
        const char* text;
        int argType;
    };
    const Entry golden[] = {
        {1, "-B", 0}, {1, "-L", 0}, {1, "-D", 0}, {1, "-G", 0}, {1, "-I", 0},
        {1, "-U", 0}, {1, "-OVERRIDE", 0}, {1, "-N", 0}, {1, "-Y", 0}, {1, "-C", 0},
        {1, "-J", 0}, {0, "-h", 0}, {0, "-H", 0}, {2, "-n", 0}, {2, "-X", 1},
        {2, "-Z", 1}, {2, "-m", 1}, {2, "-i", 1}, {2, "-b", 1}, {2, "-d", 1},
        {2, "-t", 1}, {2, "-f", 1}, {2, "-r", 1}, {2, "-s", 1}, {2, "-o", 1},
        {2, "-e", 0}, {2, "-l", 1}, {2, "-k", 1}, {2, "-u", 1}, {0, "--help", 0},
    };
    ASSERT_EQ(sizeof(golden) / sizeof(golden[0]) + 1, sizeof(g_rgOptions) / sizeof(g_rgOptions[0]));
    for (size_t i = 0; i < sizeof(golden) / sizeof(golden[0]); ++i) {
        SCOPED_TRACE(golden[i].text);
        EXPECT_EQ(golden[i].id, g_rgOptions[i].id);
        EXPECT_STREQ(golden[i].text, g_rgOptions[i].text);
        EXPECT_EQ(golden[i].argType, g_rgOptions[i].argType);
    }
    EXPECT_EQ(-1, g_rgOptions[30].id);
}

TEST(Commands, SetAccumulatesAndIsSetTestsAnyCommonBit)
{
    CommandsClass c;
    EXPECT_FALSE(c.IsSet(0xFFFFFFFFu));
    c.Set(CMD_UPDATE);
    c.Set(CMD_GET_BUILD);
    EXPECT_TRUE(c.IsSet(CMD_UPDATE));
    EXPECT_TRUE(c.IsSet(CMD_GET_BUILD | CMD_DISCOVER));
    EXPECT_FALSE(c.IsSet(CMD_DISCOVER));
    EXPECT_TRUE(c.IsSet(CMD_ANY));
    EXPECT_FALSE(c.IsSet(CMD_HELP));
}

// --- the generic parser -----------------------------------------------------

struct Yield {
    int error;
    int id;
    std::string text;
    const char* arg; // nullptr: none
};

std::vector<Yield> run_parser(Argv& argv, const SOption* table)
{
    std::vector<Yield> out;
    CSimpleOpt parser(argv.argc(), argv.argv(), table, 0);
    for (int guard = 0; guard < 1000 && parser.Next(); ++guard)
        out.push_back({parser.LastError(), parser.OptionId(),
                       parser.OptionText() ? parser.OptionText() : "",
                       parser.OptionArg()});
    return out;
}

TEST(SimpleOpt, YieldsResultCodesForEachKindOfWord)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<std::tuple<int, std::string, std::string>> expected; // error, text, arg ("-" none)
    };
    const Case cases[] = {
        {{"-D"}, {{0, "-D", "-"}}},
        {{"-q"}, {{-1, "-q", "-"}}},
        {{"-DU"}, {{-1, "-DU", "-"}}},
        {{"-d40F5849A"}, {{-1, "-d40F5849A", "-"}}},
        {{"-"}, {{-1, "-", "-"}}},
        {{"--"}, {{-1, "--", "-"}}},
        {{"-help"}, {{-1, "-help", "-"}}},
        {{"-D=1"}, {{-3, "-D", "-"}}},
        {{"-d"}, {{-5, "-d", "-"}}},
        {{"-d", "-U"}, {{-6, "-d", "-"}, {0, "-U", "-"}}},
        {{"-d", "40F5849A"}, {{0, "-d", "40F5849A"}}},
        {{"-d=40F5849A"}, {{0, "-d", "40F5849A"}}},
        {{"-d="}, {{0, "-d", ""}}},
        {{"-u=http://h/a=b"}, {{0, "-u", "http://h/a=b"}}},
        {{"-O"}, {{0, "-OVERRIDE", "-"}}},
        {{"-OVERRID"}, {{0, "-OVERRIDE", "-"}}},
        {{"-OVERRIDEX"}, {{-1, "-OVERRIDEX", "-"}}},
        {{"-o", "9600"}, {{0, "-o", "9600"}}},
        {{"--h"}, {{0, "--help", "-"}}},
        {{"--hel"}, {{0, "--help", "-"}}},
        {{"-H"}, {{0, "-H", "-"}}},
        // the argument word must not have been moved away as a non-option
        {{"stray", "-d"}, {{-5, "-d", "-"}}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"prog"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(words[1]);
        Argv argv(words);
        const auto got = run_parser(argv, g_rgOptions);
        ASSERT_EQ(c.expected.size(), got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(std::get<0>(c.expected[i]), got[i].error);
            EXPECT_EQ(std::get<1>(c.expected[i]), got[i].text);
            if (std::get<2>(c.expected[i]) == "-")
                EXPECT_EQ(nullptr, got[i].arg);
            else
                EXPECT_EQ(std::get<2>(c.expected[i]), got[i].arg ? got[i].arg : "<null>");
        }
    }
}

TEST(SimpleOpt, EqualPrefixMatchesAreAmbiguousAndTheLongestWins)
{
    const SOption table[] = {
        {7, "--alpha", 0}, {8, "--alpine", 0}, {9, "-al", 0}, {-1, nullptr, 0},
    };
    Argv argv({"prog", "--alp", "--alph", "--alpi", "-a", "--al"});
    const auto got = run_parser(argv, table);
    ASSERT_EQ(5u, got.size());
    EXPECT_EQ(-2, got[0].error);
    EXPECT_EQ(0, got[1].error);
    EXPECT_EQ(7, got[1].id);
    EXPECT_EQ("--alpha", got[1].text);
    EXPECT_EQ(8, got[2].id);
    EXPECT_EQ(0, got[3].error); // one dash: only "-al" counts
    EXPECT_EQ(9, got[3].id);
    EXPECT_EQ(-2, got[4].error);
}

TEST(SimpleOpt, MovesNonOptionsBehindTheOptionsInTheirOrder)
{
    Argv argv({"prog", "a", "-D", "b", "-d", "1", "c", "-t=USB", "d"});
    const auto got = run_parser(argv, g_rgOptions);
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ("1", std::string(got[1].arg));
    EXPECT_EQ((std::vector<std::string>{"prog", "-D", "-d", "1", "-t=USB", "a", "b", "c", "d"}),
              argv.order());
}

TEST(SimpleOpt, HandlesLongArgumentVectors)
{
    // Well beyond 50 words, options and non-options interleaved.
    std::vector<std::string> words{"prog"};
    for (int i = 0; i < 150; ++i) {
        words.push_back("-D");
        words.push_back("w" + std::to_string(i));
    }
    Argv argv(words);
    const auto got = run_parser(argv, g_rgOptions);
    ASSERT_EQ(150u, got.size());
    const auto order = argv.order();
    for (int i = 0; i < 150; ++i) {
        EXPECT_EQ("-D", order[1 + i]);
        EXPECT_EQ("w" + std::to_string(i), order[151 + i]);
    }
}

TEST(SimpleOpt, EmptyVectorYieldsNothing)
{
    char* none[] = {nullptr};
    CSimpleOpt empty(0, none, g_rgOptions, 0);
    EXPECT_FALSE(empty.Next());
    CSimpleOpt nothing(0, nullptr, g_rgOptions, 0);
    EXPECT_FALSE(nothing.Next());
}

// --- numeric arguments -----------------------------------------------------------

TEST(NumericArgs, ReadWholeTextsAndPointAtWhatIsLeft)
{
    struct Case {
        bool hex;
        const char* text;
        uint32_t value;
        size_t endOffset; // where end points; SIZE_MAX: the terminator
    };
    const size_t T = SIZE_MAX;
    const Case cases[] = {
        {true, "40F5849A", 0x40F5849Au, T},
        {true, "40f5849a", 0x40F5849Au, T},
        {true, "", 0, T},
        {true, "12G4", 0, 2},
        {true, " 12", 0, 0},
        {true, "+12", 0, 0},
        {true, "FFFFFFFF", 0xFFFFFFFFu, T},
        {true, "00000000FFFFFFFF", 0xFFFFFFFFu, T},
        // too large for 32 bits: refused as a whole instead of wrapping
        {true, "140F5849A", 0, 0},
        {true, "100000000", 0, 0},
        {true, "FFFFFFFFFFFFFFFFFFFF", 0, 0},
        {false, "007", 7, T},
        {false, "115200", 115200, T},
        {false, "12a", 0, 2},
        {false, "1A", 0, 1},
        {false, "-1", 0, 0},
        {false, "4294967295", 0xFFFFFFFFu, T},
        {false, "4294967296", 0, 0},
        {false, "99999999999999999999999", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        char* end = nullptr;
        const uint32_t v = c.hex ? _get_hex_arg(c.text, &end) : _get_int_arg(c.text, &end);
        EXPECT_EQ(c.value, v);
        const char* expectedEnd = c.endOffset == T ? c.text + strlen(c.text) : c.text + c.endOffset;
        EXPECT_EQ(expectedEnd, end);
    }
    EXPECT_EQ(0u, _get_hex_arg("12", nullptr));
    EXPECT_EQ(0u, _get_int_arg("12", nullptr));
}

// --- _get_params -------------------------------------------------------------------

class GetParams : public ::testing::Test {
protected:
    CLI_Display display;
    Parameters params;
    TraceCapture trace;
};

TEST_F(GetParams, SetsDefaultsAndTheProgramName)
{
    params.serialNumber = 99; // the parse resets everything
    params.build = "12";
    const auto r = parse(display, params, {});
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ("", r.errors);
    EXPECT_FALSE(params.commands.IsSet(0xFFFFFFFFu));
    EXPECT_EQ(0u, params.serialNumber);
    EXPECT_EQ(0u, params.routerSerialNumber);
    EXPECT_EQ(1u, params.transport);
    EXPECT_FALSE(params.transportGiven);
    EXPECT_EQ(115200u, params.baudRate);
    EXPECT_EQ("", params.build);
    EXPECT_EQ("", params.birdFile);
    EXPECT_EQ("", params.serialPort);
    EXPECT_EQ("", params.storageDirectory);
    EXPECT_EQ(0u, params.serverUrl.find("http://"));
    EXPECT_EQ(params.serverUrl.size() - 6, params.serverUrl.rfind("/cgi/u"));
    EXPECT_TRUE(params.useUEI);
    EXPECT_FALSE(params.override);
    EXPECT_FALSE(params.logMaskGiven);
    EXPECT_FALSE(params.helpRequested);
    EXPECT_EQ("Updater", params.programName);
    EXPECT_FALSE(params.homeDirectory.empty());

    char a0[] = "C:\\tools\\Updater.exe";
    char* argv[] = {a0, nullptr};
    EXPECT_EQ(0, _get_params(display, 1, argv, &params));
    EXPECT_EQ("Updater.exe", params.programName);
}

TEST_F(GetParams, EachCommandOptionSetsOnlyItsBit)
{
    const std::pair<const char*, uint32_t> cases[] = {
        {"-B", CMD_LIST_BUILDS}, {"-L", CMD_LIST_LOCAL_BUILDS}, {"-D", CMD_DISCOVER},
        {"-G", CMD_GET_BUILD},   {"-I", CMD_VIEW_INFO},         {"-U", CMD_UPDATE},
        {"-N", CMD_FINGERPRINT}, {"-C", CMD_CHECK_BIRDFILE},    {"-J", CMD_GET_JWT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const auto r = parse(display, params, {c.first});
        EXPECT_EQ(0, r.rc);
        EXPECT_TRUE(params.commands.IsSet(c.second));
        EXPECT_FALSE(params.commands.IsSet(~c.second));
        EXPECT_FALSE(params.override);
    }
    // -Z counts as a command and ignores its argument
    auto r = parse(display, params, {"-Z", "whatever"});
    EXPECT_EQ(0, r.rc);
    EXPECT_TRUE(params.commands.IsSet(CMD_Z));
    EXPECT_FALSE(params.commands.IsSet(~CMD_Z));
    // -OVERRIDE and its abbreviations set no command bit
    for (const char* word : {"-OVERRIDE", "-O", "-OVER"}) {
        SCOPED_TRACE(word);
        r = parse(display, params, {word});
        EXPECT_EQ(0, r.rc);
        EXPECT_TRUE(params.override);
        EXPECT_FALSE(params.commands.IsSet(0xFFFFFFFFu));
    }
}

// One row: the words after the program name, the exit of the parse, the exact
// standard-error text, and a check of the record.
struct ParamCase {
    std::vector<std::string> args;
    int rc;
    std::string errors;
    std::function<void(const Parameters&)> check;
};

void run_cases(CLI_Display& display, const std::vector<ParamCase>& cases)
{
    for (const auto& c : cases) {
        std::string label;
        for (const auto& a : c.args)
            label += a + " ";
        SCOPED_TRACE(label);
        Parameters params;
        TraceCapture trace;
        const auto r = parse(display, params, c.args);
        EXPECT_EQ(c.rc, r.rc);
        EXPECT_EQ(c.errors, r.errors);
        EXPECT_EQ("", r.output);
        if (c.check)
            c.check(params);
    }
}

TEST_F(GetParams, SerialNumbers)
{
    const auto serial = [](uint32_t v) {
        return [v](const Parameters& p) { EXPECT_EQ(v, p.serialNumber); };
    };
    const auto router = [](uint32_t v) {
        return [v](const Parameters& p) { EXPECT_EQ(v, p.routerSerialNumber); };
    };
    run_cases(display, {
        {{"-d", "0x40F5849A"}, 0, "", serial(0x40F5849A)},
        {{"-d", "0X40F5849A"}, 0, "", serial(0x40F5849A)},
        {{"-d", "40f5849a"}, 0, "", serial(0x40F5849A)},
        {{"-d=40F5849A"}, 0, "", serial(0x40F5849A)},
        {{"-d", "FFFFFFFF"}, 0, "", serial(0xFFFFFFFF)},
        {{"-d", "1", "-d", "2"}, 0, "", serial(2)},
        {{"-d", "0"}, 1, "Invalid serial number obtained from argument [0]\n", serial(0)},
        {{"-d", "0x"}, 1, "Invalid serial number obtained from argument []\n", serial(0)},
        {{"-d", "12G4"}, 1,
         "Invalid format for \"-d\" parameter, unprocessed characters [G4]\n"
         "Invalid serial number obtained from argument [12G4]\n",
         serial(0)},
        // nine digits do not fit: never wrap to the real device 40F5849A
        {{"-d", "140F5849A"}, 1,
         "Invalid format for \"-d\" parameter, unprocessed characters [140F5849A]\n"
         "Invalid serial number obtained from argument [140F5849A]\n",
         serial(0)},
        {{"-d", "0x100000000"}, 1,
         "Invalid format for \"-d\" parameter, unprocessed characters [100000000]\n"
         "Invalid serial number obtained from argument [100000000]\n",
         serial(0)},
        {{"-d", "40F5849A", "-d", "140F5849A"}, 1,
         "Invalid format for \"-d\" parameter, unprocessed characters [140F5849A]\n"
         "Invalid serial number obtained from argument [140F5849A]\n",
         serial(0x40F5849A)},
        {{"-U", "-d"}, 0, "",
         [](const Parameters& p) {
             EXPECT_EQ(0u, p.serialNumber);
             EXPECT_TRUE(p.commands.IsSet(CMD_UPDATE));
         }},
        {{"-d", "-U"}, 0, "",
         [](const Parameters& p) {
             EXPECT_EQ(0u, p.serialNumber);
             EXPECT_TRUE(p.commands.IsSet(CMD_UPDATE));
         }},
        {{"-d40F5849A"}, 0, "", serial(0)},
        {{"-r", "0xD272031D"}, 0, "", router(0xD272031D)},
        {{"-r=d272031d"}, 0, "", router(0xD272031D)},
        {{"-r", "12G4"}, 1,
         "Invalid format for \"12G4\" parameter, unprocessed characters [G4]\n"
         "Invalid router serial number obtained from argument [12G4]\n",
         router(0)},
        {{"-r", "0"}, 1, "Invalid router serial number obtained from argument [0]\n", router(0)},
        {{"-r", "1D272031D"}, 1,
         "Invalid format for \"1D272031D\" parameter, unprocessed characters [1D272031D]\n"
         "Invalid router serial number obtained from argument [1D272031D]\n",
         router(0)},
    });
}

TEST_F(GetParams, BuildAndBaudRate)
{
    const auto build = [](const char* v) {
        return [v](const Parameters& p) { EXPECT_EQ(v, p.build); };
    };
    const auto baud = [](uint32_t v) {
        return [v](const Parameters& p) { EXPECT_EQ(v, p.baudRate); };
    };
    run_cases(display, {
        {{"-b", "99528558"}, 0, "", build("99528558")},
        {{"-b", "007"}, 0, "", build("7")},
        {{"-b="}, 0, "", build("0")},
        {{"-b", "4294967295"}, 0, "", build("4294967295")},
        {{"-b", "12a"}, 1, "Invalid format for \"-b\" parameter, unprocessed characters [a]\n", build("")},
        {{"-b", "0x10"}, 1, "Invalid format for \"-b\" parameter, unprocessed characters [x10]\n", build("")},
        // one past 32 bits would otherwise become build 0
        {{"-b", "4294967296"}, 1,
         "Invalid format for \"-b\" parameter, unprocessed characters [4294967296]\n", build("")},
        {{"-o", "9600"}, 0, "", baud(9600)},
        {{"-o", "96k"}, 1, "Invalid format for \"-o\" parameter, unprocessed characters [k]\n", baud(115200)},
        {{"-o", "4294967296"}, 1,
         "Invalid format for \"-o\" parameter, unprocessed characters [4294967296]\n", baud(115200)},
    });
}

TEST_F(GetParams, TransportAndTexts)
{
    const auto transport = [](uint32_t v) {
        return [v](const Parameters& p) {
            EXPECT_EQ(v, p.transport);
            EXPECT_TRUE(p.transportGiven);
        };
    };
    run_cases(display, {
        {{"-t", "USB"}, 0, "", transport(1)},
        {{"-t", "TCPIP"}, 0, "", transport(2)},
        {{"-t", "TCP"}, 0, "", transport(2)},
        {{"-t", "TCPx"}, 0, "", transport(2)},
        {{"-t", "RECOVER"}, 0, "", transport(255)},
        {{"-t", "usb"}, 1,
         "Invalid transport type:[usb]\nMust be one of the following: USB, TCPIP, RECOVER\n", transport(0)},
        {{"-t="}, 1, "Invalid transport type:[]\nMust be one of the following: USB, TCPIP, RECOVER\n",
         transport(0)},
        {{"-s", "/dev/ttyUSB0", "-f", "/tmp/a b.bird", "-i", "/tmp/store", "-u", "http://127.0.0.1:9/cgi/u"},
         0, "",
         [](const Parameters& p) {
             EXPECT_EQ("/dev/ttyUSB0", p.serialPort);
             EXPECT_EQ("/tmp/a b.bird", p.birdFile);
             EXPECT_EQ("/tmp/store", p.storageDirectory);
             EXPECT_EQ("http://127.0.0.1:9/cgi/u", p.serverUrl);
         }},
        // accepted and without effect
        {{"-n", "-e", "-l", "a message", "-k", "APP.log", "-D"}, 0, "",
         [](const Parameters& p) {
             EXPECT_TRUE(p.commands.IsSet(CMD_DISCOVER));
             EXPECT_FALSE(p.commands.IsSet(~CMD_DISCOVER));
         }},
    });
}

TEST_F(GetParams, UeiSwitch)
{
    const auto uei = [](bool v) {
        return [v](const Parameters& p) { EXPECT_EQ(v, p.useUEI); };
    };
    run_cases(display, {
        {{"-m", "0"}, 0, "", uei(false)},
        {{"-m", "false"}, 0, "", uei(false)},
        {{"-m", "yes"}, 0, "", uei(false)},
        {{"-m", "1"}, 0, "", uei(true)},
        {{"-m", "true"}, 0, "", uei(true)},
        {{"-m", "0", "-m", "10"}, 0, "", uei(true)},
    });
}

TEST_F(GetParams, RefusedAndIgnoredWords)
{
    const auto none = [](const Parameters& p) { EXPECT_FALSE(p.commands.IsSet(0xFFFFFFFFu)); };
    run_cases(display, {
        {{"-Y"}, 1, "Unhandled command: [-Y]\n", none},
        {{"-help"}, 0, "", none},
        {{"-DU"}, 0, "", none},
        {{"-D=1"}, 0, "", none},
        {{"stray", "words"}, 0, "", none},
        {{"x", "-D", "y"}, 0, "",
         [](const Parameters& p) { EXPECT_TRUE(p.commands.IsSet(CMD_DISCOVER)); }},
        {{"-D", "-G", "-D"}, 0, "",
         [](const Parameters& p) {
             EXPECT_TRUE(p.commands.IsSet(CMD_DISCOVER));
             EXPECT_TRUE(p.commands.IsSet(CMD_GET_BUILD));
             EXPECT_FALSE(p.commands.IsSet(~(CMD_DISCOVER | CMD_GET_BUILD)));
         }},
        // every handler error is shown, in order, and the parse goes on
        {{"-d", "0", "-t", "serial", "-Y", "-b", "x", "-U"}, 1,
         "Invalid serial number obtained from argument [0]\n"
         "Invalid transport type:[serial]\nMust be one of the following: USB, TCPIP, RECOVER\n"
         "Unhandled command: [-Y]\n"
         "Invalid format for \"-b\" parameter, unprocessed characters [x]\n",
         [](const Parameters& p) { EXPECT_TRUE(p.commands.IsSet(CMD_UPDATE)); }},
    });
}

TEST_F(GetParams, HelpStopsTheParse)
{
    for (const char* word : {"-h", "-H", "--help", "--he"}) {
        SCOPED_TRACE(word);
        Parameters p;
        TraceCapture t;
        const auto r = parse(display, p, {"-D", word, "-X", "0x20", "-Y", "-d", "0"});
        EXPECT_EQ(0, r.rc);
        EXPECT_EQ("", r.errors);
        EXPECT_TRUE(p.helpRequested);
        EXPECT_TRUE(p.commands.IsSet(CMD_HELP));
        EXPECT_TRUE(p.commands.IsSet(CMD_DISCOVER));
        EXPECT_FALSE(p.logMaskGiven);
        EXPECT_FALSE(t.enabled(0x20));
        EXPECT_EQ(std::string::npos, t.text().find("Application parameters"));
    }
}

TEST_F(GetParams, LogMaskActivatesPackages)
{
    struct Case {
        std::vector<std::string> args;
        std::string errors;
        bool given;
        uint32_t mask;
    };
    const Case cases[] = {
        {{"-X", "0x20"}, "", true, 0x20},
        {{"-X", "0X20"}, "", true, 0x20},
        {{"-X", "32"}, "", true, 0x20},
        {{"-X=0x10001"}, "", true, 0x10001},
        {{"-X", "1", "-X", "0x20"}, "", true, 0x21},
        {{"-X", "12ab"}, "Invalid format for \"-X\" parameter, unprocessed characters [ab]\n", true, 0},
        {{"-X", "0x2G"}, "Invalid format for \"-X\" parameter, unprocessed characters [G]\n", true, 0},
        {{"-X"}, "", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        Parameters p;
        TraceCapture t;
        const auto r = parse(display, p, c.args);
        EXPECT_EQ(0, r.rc); // a bad mask is not a parse error
        EXPECT_EQ(c.errors, r.errors);
        EXPECT_EQ(c.given, p.logMaskGiven);
        for (uint32_t bit = 1; bit != 0; bit <<= 1)
            EXPECT_EQ((c.mask & bit) != 0, t.enabled(bit)) << std::hex << bit;
    }
}

TEST_F(GetParams, TracesHomeDirectoryPrefixAndArgumentVector)
{
    // Package 1 is on once -X is parsed, so only the second prefix is traced.
    auto r = parse(display, params, {"-d", "0x1", "-X", "0x10001", "stray", "-r", "0x2"});
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ(1u, params.serialNumber);
    EXPECT_EQ(2u, params.routerSerialNumber);
    EXPECT_EQ("Discarding '0x' router serial number prefix\n"
              "\nApplication parameters:[Updater]\n"
              "\t[/usr/local/bin/Updater]\n\t[-d]\n\t[0x1]\n\t[-X]\n\t[0x10001]\n\t[-r]\n\t[0x2]\n\t[stray]\n",
              trace.text());
    EXPECT_EQ(std::string::npos, trace.text().find("Discarding '0x' serial number prefix"));
    EXPECT_EQ(std::string::npos, trace.text().find("Home directory"));

    // Packages enabled before the parse also show the home directory and the first prefix.
    TraceCapture t2;
    Log::ActivatePackage(DEBUG_APP | DEBUG_Updater);
    Parameters p2;
    r = parse(display, p2, {"-d", "0x40F5849A"});
    EXPECT_EQ(0, r.rc);
    const std::string text = t2.text();
    EXPECT_EQ("Home directory:[" + p2.homeDirectory + "]\n"
              "Discarding '0x' serial number prefix\n"
              "\nApplication parameters:[Updater]\n"
              "\t[/usr/local/bin/Updater]\n\t[-d]\n\t[0x40F5849A]\n",
              text);
}

TEST(ReleaseParams, FreesTheHeapBufferAndClearsThePointer)
{
    Parameters p;
    _release_params(&p); // none held
    p.heapBuffer = static_cast<char*>(malloc(16));
    _release_params(&p);
    EXPECT_EQ(nullptr, p.heapBuffer);
    _release_params(nullptr);
    EXPECT_EQ(0, _validate_params(&p));
}

} // namespace
