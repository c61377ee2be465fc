#include "CLI_Display.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char kBarText[] = "=====================================================================";
constexpr int kBarWidth = sizeof(kBarText) - 1; // 69
constexpr int kClearWidth = 88;
// Room the label's " (", ") " takes away from the bar.
constexpr int kLabelFrame = 4;
// Longest label that still leaves the bar one column.
constexpr size_t kMaxLabel = kBarWidth - kLabelFrame - 1;

const char* const kSpinnerFrames[] = {".", "..", "...", "....", ".....", "....", "...", ".."};
constexpr unsigned kSpinnerFrameCount = sizeof(kSpinnerFrames) / sizeof(kSpinnerFrames[0]);

bool stdout_is_terminal()
{
    return isatty(fileno(stdout)) == 1;
}

void clear_line()
{
    fprintf(stdout, "\r%*s\r", kClearWidth, " ");
}

} // namespace

CLI_Display::CLI_Display()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

void CLI_Display::display_progress(bool show)
{
    if (!stdout_is_terminal())
        return;
    // Showing draws nothing: the first update_progress draws the bar.
    if (!show)
        clear_line();
}

void CLI_Display::update_progress(double fraction, const char* label)
{
    if (!stdout_is_terminal())
        return;

    // A fraction out of range or NaN must not push the mark outside the brackets.
    if (std::isnan(fraction) || fraction < 0.0)
        fraction = 0.0;
    else if (fraction > 1.0)
        fraction = 1.0;

    if (label == nullptr) {
        const int width = kBarWidth;
        const int n = static_cast<int>(width * fraction);
        const int percent = static_cast<int>(fraction * 100);
        fprintf(stdout, "\r[%.*s>%*s] (%3d%% ) ", n, kBarText, width - n - 1, "", percent);
        return;
    }

    // A label too long for the bar is cut so the bar keeps one column.
    size_t labelLength = strlen(label);
    if (labelLength > kMaxLabel)
        labelLength = kMaxLabel;
    const int width = kBarWidth - static_cast<int>(labelLength) - kLabelFrame;
    const int n = static_cast<int>(width * fraction);
    const int percent = static_cast<int>(fraction * 100);
    fprintf(stdout, "\r (%.*s) [%.*s>%*s] (%3d%% ) ", static_cast<int>(labelLength), label, n,
            kBarText, width - n - 1, "", percent);
}

void CLI_Display::update_spinner(bool show, const char* label)
{
    // One frame counter for every display, so a new spinner goes on where the last stopped.
    static uint8_t count = 0;

    if (!stdout_is_terminal())
        return;
    if (!show) {
        clear_line();
        return;
    }

    const char* frame = kSpinnerFrames[count % kSpinnerFrameCount];
    if (label != nullptr)
        fprintf(stdout, "\r (%s) %s      \r", label, frame);
    else
        fprintf(stdout, "\r %s      \r", frame);
    count = static_cast<uint8_t>((count + 1) % kSpinnerFrameCount);
}

void CLI_Display::info_message(const char* text)
{
    fprintf(stdout, "%s\n", text != nullptr ? text : "");
}

void CLI_Display::error_message(const char* text)
{
    fprintf(stderr, "%s\n", text != nullptr ? text : "");
}
