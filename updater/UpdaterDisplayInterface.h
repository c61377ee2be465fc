// The operator's display: messages, a progress bar and a spinner.
#ifndef UPDATER_UPDATERDISPLAYINTERFACE_H
#define UPDATER_UPDATERDISPLAYINTERFACE_H

class UpdaterDisplayInterface {
public:
    enum Level {
        LEVEL_INFO = 0,
        LEVEL_ERROR = 1,
    };

    UpdaterDisplayInterface() : muted(false) {}

    virtual void display_progress(bool show) = 0;
    virtual void update_progress(double fraction, const char* label) = 0;
    virtual void update_spinner(bool show, const char* label) = 0;
    virtual void info_message(const char* text) = 0;
    virtual void error_message(const char* text) = 0;

    // Formats into a 2048-byte buffer (cut at 2047 characters) and hands the text,
    // without a line end, to error_message for LEVEL_ERROR, else to info_message.
    void message(Level level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Silences message only; the bar and the spinner still draw.
    void mute_messages(bool mute) { muted = mute; }

protected:
    // Displays are owned by value and never destroyed through the interface.
    ~UpdaterDisplayInterface() = default;
    UpdaterDisplayInterface(const UpdaterDisplayInterface&) = default;
    UpdaterDisplayInterface& operator=(const UpdaterDisplayInterface&) = default;

    bool muted;
};

#endif
