// Console display: messages on standard output and standard error; the progress
// bar and the spinner are drawn only when standard output is a terminal.
#ifndef UPDATER_CLI_DISPLAY_H
#define UPDATER_CLI_DISPLAY_H

#include "UpdaterDisplayInterface.h"

class CLI_Display : public UpdaterDisplayInterface {
public:
    // Makes standard output and standard error unbuffered, so that every partial
    // line of the bar and the spinner reaches the terminal at once.
    CLI_Display();
    ~CLI_Display() = default;

    void display_progress(bool show) override;
    void update_progress(double fraction, const char* label) override;
    void update_spinner(bool show, const char* label) override;
    void info_message(const char* text) override;
    void error_message(const char* text) override;
};

#endif
