#pragma once
// The command line's own words for what the recovery core says. The core sends the texts
// the wizard shows on its status line, in its message boxes and in its questions; on a
// terminal some of them point at buttons that are not there or read badly, so they are
// phrased again here. A text that is not in the tables passes unchanged.

#include <string>

namespace quenlow::cli {

// A status text as the progress line shows it; empty when it has nothing to say there.
std::string terminalStatus(const std::string& text);
// A message as standard error shows it; empty when the command line says it otherwise
// (the save command's summary and its list of failures, its own errors).
std::string terminalMessage(const std::string& text);
// A question: the save question becomes "Save N files into DIR?" (no "into DIR" when
// `outputFolder` is empty).
std::string terminalQuestion(const std::string& text, const std::string& outputFolder);

}  // namespace quenlow::cli
