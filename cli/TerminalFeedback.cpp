#include "cli/TerminalFeedback.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "cli/TerminalPhrases.h"
#include "cli/TerminalText.h"

namespace quenlow::cli {

namespace {

std::atomic<int> interrupts{0};

void onInterrupt(int) {
    if (interrupts.fetch_add(1) >= 1) {
        // Second Ctrl-C: leave at once.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

}  // namespace

void installInterruptHandler() { std::signal(SIGINT, onInterrupt); }

bool interruptRequested() { return interrupts.load() > 0; }

TerminalFeedback::TerminalFeedback() : interactive_(::isatty(STDERR_FILENO) == 1) {}

void TerminalFeedback::status(const std::string& text) {
    status_ = text;
    if (interactive_ && !quiet_) redraw();
}

void TerminalFeedback::detail(const std::string&) {}

void TerminalFeedback::progressRange(int64_t low, int64_t high) {
    low_ = low;
    high_ = high;
    lastPermille_ = -1;
}

void TerminalFeedback::progressPosition(int64_t position) {
    pos_ = position;
    if (!interactive_ || quiet_) return;
    int permille = high_ > low_ ? static_cast<int>((pos_ - low_) * 1000 / (high_ - low_)) : 0;
    if (permille != lastPermille_) {
        lastPermille_ = permille;
        redraw();
    }
}

void TerminalFeedback::redraw() {
    int permille = high_ > low_ ? static_cast<int>((pos_ - low_) * 1000 / (high_ - low_)) : 0;
    permille = std::max(0, std::min(1000, permille));
    std::string line = fitColumns(terminalStatus(status_), 60);
    std::fprintf(stderr, "\r\033[K[%3d.%d%%] %s", permille / 10, permille % 10, line.c_str());
    std::fflush(stderr);
    lineShown_ = true;
}

void TerminalFeedback::finishProgress() {
    if (lineShown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        lineShown_ = false;
    }
}

void TerminalFeedback::message(const std::string& text) {
    std::string shown = terminalMessage(text);
    if (shown.empty()) return;
    finishProgress();
    std::cerr << terminalText(shown) << '\n';
}

bool TerminalFeedback::ask(const std::string& question) {
    finishProgress();
    std::string shown = terminalText(terminalQuestion(question, outputFolder_));
    if (assumeYes_) {
        std::cerr << shown << " yes (--yes)\n";
        return true;
    }
    if (::isatty(STDIN_FILENO) != 1) {
        std::cerr << shown << " no: there is no terminal to answer on (--yes answers yes)\n";
        return false;
    }
    std::cerr << shown << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

}  // namespace quenlow::cli
