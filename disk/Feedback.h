#pragma once
// How long-running work talks to whoever started it: status texts, a progress bar, messages
// and yes/no questions. Workers call it synchronously; the GUI forwards each call to its UI
// thread, the command line draws a progress line and prints messages, tests record calls.

#include <cstdint>
#include <string>

namespace quenlow {

class Feedback {
public:
    virtual ~Feedback() = default;
    // The status line.
    virtual void status(const std::string& text) { (void)text; }
    // The second status line (for instance the size of the file being saved).
    virtual void detail(const std::string& text) { (void)text; }
    virtual void progressRange(int64_t low, int64_t high) { (void)low; (void)high; }
    virtual void progressPosition(int64_t position) { (void)position; }
    // A message for the user (a message box in the GUI, standard error on the command line).
    virtual void message(const std::string& text) { (void)text; }
    // A yes/no question; the default answer is no.
    virtual bool ask(const std::string& question) { (void)question; return false; }
};

// Feedback that drops everything; questions are answered no.
inline Feedback& silentFeedback() {
    static Feedback none;
    return none;
}

}  // namespace quenlow
