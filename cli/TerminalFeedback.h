#pragma once
// Feedback on a terminal: a progress line on standard error when it is a terminal (none
// when piped), messages on standard error, questions answered at the terminal or by --yes.
// The core's texts are phrased for the terminal (TerminalPhrases) and escaped
// (TerminalText): a status line may carry a name from the disk.

#include <atomic>
#include <cstdint>
#include <string>

#include "disk/Feedback.h"

namespace quenlow::cli {

class TerminalFeedback : public Feedback {
public:
    TerminalFeedback();
    void status(const std::string& text) override;
    void detail(const std::string& text) override;
    void progressRange(int64_t low, int64_t high) override;
    void progressPosition(int64_t position) override;
    void message(const std::string& text) override;
    bool ask(const std::string& question) override;

    // Ends the progress line (a newline) if one is shown.
    void finishProgress();
    bool interactive() const { return interactive_; }
    void setAssumeYes(bool yes) { assumeYes_ = yes; }
    void setQuiet(bool quiet) { quiet_ = quiet; }
    // The folder a save writes into, named in the save question.
    void setOutputFolder(std::string folder) { outputFolder_ = std::move(folder); }

private:
    void redraw();
    bool interactive_ = false;
    bool assumeYes_ = false;
    bool quiet_ = false;
    bool lineShown_ = false;
    int64_t low_ = 0, high_ = 0, pos_ = 0;
    int lastPermille_ = -1;
    std::string status_;
    std::string outputFolder_;
};

// Ctrl-C handling: the first SIGINT sets the flag (long work polls it and stops like the
// Stop button); a second one ends the process.
void installInterruptHandler();
bool interruptRequested();

}  // namespace quenlow::cli
