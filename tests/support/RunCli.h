#pragma once
// Runs the quenlow binary (path from QUENLOW_CLI, set by ctest) and captures its output.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quenlow::test {

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string cliPath() {
    const char* p = std::getenv("QUENLOW_CLI");
    if (p != nullptr && *p != '\0') return p;
    return std::string(QUENLOW_BINARY_DIR) + "/cli/quenlow";
}

inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// Runs quenlow with `args`; standard input is empty, standard error goes to a temp file.
inline CliResult runCli(const std::vector<std::string>& args, const std::string& stdoutFile = {}) {
    auto errFile = std::filesystem::temp_directory_path() /
                   ("quenlow-cli-err-" + std::to_string(::getpid()) + ".txt");
    std::string cmd = shellQuote(cliPath());
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about a literal put
    // before a temporary string.
    for (const auto& a : args) cmd.append(" ").append(shellQuote(a));
    cmd.append(" </dev/null 2>").append(shellQuote(errFile.string()));
    if (!stdoutFile.empty()) cmd.append(" >").append(shellQuote(stdoutFile));
    CliResult r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) return r;
    std::array<char, 65536> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
    int st = ::pclose(pipe);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    std::filesystem::remove(errFile);
    return r;
}

}  // namespace quenlow::test
