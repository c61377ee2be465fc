// Console display: message routing, and the bar and spinner bytes drawn on a
// terminal (a pseudo-terminal as standard output) but never through a pipe.
#include "CLI_Display.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "FdCapture.h"
#include "PtyPair.h"

namespace {

// Runs fn with standard output on the slave side of a raw pseudo-terminal and
// returns the bytes the master side received.
std::string drawn_on_terminal(const std::function<void()>& fn)
{
    morvtest::PtyPair pty;
    const int master = pty.masterFd();
    const int slave = pty.slaveFd();
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw); // no newline translation: compare the bytes as written
    tcsetattr(slave, TCSANOW, &raw);

    fflush(stdout);
    const int saved = dup(1);
    dup2(slave, 1);
    fn();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);

    // The terminal passes bytes on asynchronously: read up to a marker written last.
    const std::string marker = "\x01" "end-of-drawing" "\x01";
    if (write(slave, marker.data(), marker.size()) != static_cast<ssize_t>(marker.size()))
        ADD_FAILURE() << "marker write failed";
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (out.find(marker) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) < 0 && errno != EINTR)
            break;
        if ((p.revents & POLLIN) == 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof(buffer));
        if (n <= 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    const size_t at = out.find(marker);
    if (at == std::string::npos)
        ADD_FAILURE() << "drawing did not arrive";
    else
        out.erase(at);
    return out;
}

// Runs fn with standard output on a pipe and returns what came through.
std::string written_to_pipe(const std::function<void()>& fn)
{
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return "";
    }
    fflush(stdout);
    const int saved = dup(1);
    dup2(fds[1], 1);
    fn();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(fds[1]);
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof(buffer))) > 0)
        out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    return out;
}

std::string bar(int equals, int spaces, const char* percent)
{
    return "\r[" + std::string(equals, '=') + ">" + std::string(spaces, ' ') + "] (" + percent + "% ) ";
}

std::string labelled_bar(const std::string& label, int equals, int spaces, const char* percent)
{
    return "\r (" + label + ") [" + std::string(equals, '=') + ">" + std::string(spaces, ' ') + "] (" +
           percent + "% ) ";
}

const std::string kClear = "\r" + std::string(88, ' ') + "\r";

class Display : public ::testing::Test {
protected:
    CLI_Display display;
};

TEST_F(Display, ProgressBarBytes)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double fraction;
        const char* label;
        std::string expected;
    };
    const std::string longLabel(200, 'L');
    const Case cases[] = {
        {0.0, nullptr, bar(0, 68, "  0")},
        {0.5, nullptr, bar(34, 34, " 50")},
        {1.0, nullptr, bar(69, 1, "100")},
        {0.999, nullptr, bar(68, 0, " 99")},
        {0.01, nullptr, bar(0, 68, "  1")},
        // out of range and NaN stay inside the brackets
        {-0.5, nullptr, bar(0, 68, "  0")},
        {1.5, nullptr, bar(69, 1, "100")},
        {nan, nullptr, bar(0, 68, "  0")},
        {inf, nullptr, bar(69, 1, "100")},
        {-inf, nullptr, bar(0, 68, "  0")},
        {0.5, "ABC", labelled_bar("ABC", 31, 30, " 50")},
        {1.0, "ABC", labelled_bar("ABC", 62, 1, "100")},
        {0.0, "", labelled_bar("", 0, 64, "  0")},
        // the longest label that leaves a column, and longer ones cut to it
        {0.0, "LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL",
         labelled_bar(std::string(64, 'L'), 0, 0, "  0")},
        {0.0, longLabel.c_str(), labelled_bar(std::string(64, 'L'), 0, 0, "  0")},
        {1.0, longLabel.c_str(), labelled_bar(std::string(64, 'L'), 1, 1, "100")},
        {0.5, "LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL",
         labelled_bar(std::string(64, 'L'), 0, 0, " 50")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fraction) + " label " +
                     (c.label ? std::to_string(strlen(c.label)) : std::string("none")));
        EXPECT_EQ(c.expected, drawn_on_terminal([&] { display.update_progress(c.fraction, c.label); }));
    }
}

TEST_F(Display, ClearingTheLine)
{
    EXPECT_EQ(kClear, drawn_on_terminal([&] { display.display_progress(false); }));
    EXPECT_EQ("", drawn_on_terminal([&] { display.display_progress(true); }));
    EXPECT_EQ(kClear, drawn_on_terminal([&] { display.update_spinner(false, nullptr); }));
    EXPECT_EQ(kClear, drawn_on_terminal([&] { display.update_spinner(false, "label"); }));
}

TEST_F(Display, SpinnerCyclesThroughEightFramesAcrossDisplays)
{
    // The frame counter is shared and survives across tests: turn it until the
    // unique five-dot frame, then to the end of the cycle.
    bool found = false;
    for (int i = 0; i < 8 && !found; ++i)
        found = drawn_on_terminal([&] { display.update_spinner(true, nullptr); }) == "\r .....      \r";
    ASSERT_TRUE(found);
    for (int i = 0; i < 3; ++i)
        drawn_on_terminal([&] { display.update_spinner(true, nullptr); });

    const char* frames[] = {".", "..", "...", "....", ".....", "....", "...", "..", "."};
    std::string expected;
    for (int i = 0; i < 9; ++i) {
        if (i == 4)
            expected += kClear; // hiding keeps the counter
        expected += std::string("\r ") + frames[i] + "      \r";
    }
    CLI_Display other;
    const std::string got = drawn_on_terminal([&] {
        for (int i = 0; i < 4; ++i)
            display.update_spinner(true, nullptr);
        display.update_spinner(false, nullptr);
        for (int i = 0; i < 5; ++i)
            other.update_spinner(true, nullptr);
    });
    EXPECT_EQ(expected, got);

    EXPECT_EQ("\r (Downloading) ..      \r",
              drawn_on_terminal([&] { display.update_spinner(true, "Downloading"); }));
}

TEST_F(Display, PipeGetsMessagesButNoDrawing)
{
    const std::string out = written_to_pipe([&] {
        display.display_progress(true);
        display.update_progress(0.5, nullptr);
        display.update_progress(0.5, "label");
        display.update_spinner(true, nullptr);
        display.update_spinner(true, "label");
        display.update_spinner(false, nullptr);
        display.display_progress(false);
        display.info_message("still shown");
    });
    EXPECT_EQ("still shown\n", out);
}

TEST_F(Display, MessagesGoToTheirStreamsWithALineEnd)
{
    morvtest::FdCapture err(2);
    morvtest::FdCapture out(1);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "Retrieving firmware for device with serial number %08X",
                    0x40F5849Au);
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Could not find updater directory at %s", "/x");
    display.message(static_cast<UpdaterDisplayInterface::Level>(7), "level %d", 7);
    display.info_message("direct");
    display.error_message("direct error");
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "two\nlines");
    EXPECT_EQ("Retrieving firmware for device with serial number 40F5849A\nlevel 7\ndirect\ntwo\nlines\n",
              out.finish());
    EXPECT_EQ("Could not find updater directory at /x\ndirect error\n", err.finish());
}

TEST_F(Display, LongMessagesAreCutAt2047Characters)
{
    const std::string longText(3000, 'x');
    morvtest::FdCapture err(2);
    morvtest::FdCapture out(1);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "%s", longText.c_str());
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "%s", longText.substr(0, 2047).c_str());
    EXPECT_EQ(std::string(2047, 'x') + "\n", out.finish());
    EXPECT_EQ(std::string(2047, 'x') + "\n", err.finish());
}

TEST_F(Display, MutingDropsMessagesOnly)
{
    display.mute_messages(true);
    morvtest::FdCapture err(2);
    std::string drawn;
    {
        morvtest::FdCapture out(1);
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "hidden %d", 1);
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "hidden %d", 2);
        EXPECT_EQ("", out.finish());
    }
    drawn = drawn_on_terminal([&] {
        display.update_progress(0.0, nullptr);
        display.display_progress(false);
    });
    EXPECT_EQ("", err.finish());
    EXPECT_EQ(bar(0, 68, "  0") + kClear, drawn);

    display.mute_messages(false);
    morvtest::FdCapture out(1);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "shown");
    EXPECT_EQ("shown\n", out.finish());
}

TEST(DisplayConstruction, MakesStandardStreamsUnbuffered)
{
    setvbuf(stdout, nullptr, _IOFBF, 4096);
    CLI_Display display;
    // An unbuffered stream reaches the descriptor before any flush.
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const int saved = dup(1);
    dup2(fds[1], 1);
    fputs("now", stdout);
    char buffer[8] = {};
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    const ssize_t n = read(fds[0], buffer, sizeof(buffer));
    dup2(saved, 1);
    close(saved);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(3, n);
    EXPECT_STREQ("now", buffer);
}

} // namespace
