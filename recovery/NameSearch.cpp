#include "recovery/NameSearch.h"

#include <re2/re2.h>

#include <unordered_set>

#include "output/FolderSaver.h"

namespace quenlow::recovery {

namespace {

constexpr int kMaxDepth = 1000;
// Patterns are what a user types; a longer one is refused rather than compiled.
constexpr size_t kMaxPatternBytes = 4096;

std::string trimmedEnd(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text;
}

std::string trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r\n");
    return start == std::string::npos ? std::string() : trimmedEnd(text.substr(start));
}

// Back-references and look-around are valid in the usual syntax but need a backtracking
// matcher; they are told apart from patterns that are simply malformed.
bool usesBacktrackingConstruct(const std::string& pattern) {
    for (size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '\\') {
            char next = pattern[i + 1];
            if ((next >= '1' && next <= '9') || next == 'k') return true;
            ++i;  // an escaped character is not the start of anything
        } else if (pattern[i] == '(' && pattern[i + 1] == '?' && i + 2 < pattern.size()) {
            char kind = pattern[i + 2];
            if (kind == '=' || kind == '!') return true;
            if (kind == '<' && i + 3 < pattern.size() && (pattern[i + 3] == '=' || pattern[i + 3] == '!')) return true;
        }
    }
    return false;
}

}  // namespace

SearchPattern::SearchPattern(const std::string& pattern) {
    if (pattern.size() > kMaxPatternBytes) {
        error_ = "the pattern is longer than " + std::to_string(kMaxPatternBytes) + " bytes";
        return;
    }
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingUTF8);
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    options.set_never_capture(true);
    re_ = std::make_unique<RE2>(pattern, options);
    if (re_->ok()) return;
    error_ = re_->error();
    unsupported_ = usesBacktrackingConstruct(pattern);
    re_.reset();
}

SearchPattern::~SearchPattern() = default;

std::string SearchPattern::refusal() const {
    if (!unsupported_) return kBadPatternText;
    return "the pattern uses a back-reference or a look-around, which the search does not offer (" + error_ + ")";
}

bool SearchPattern::matches(const std::string& name) const {
    return re_ != nullptr && RE2::PartialMatch(name, *re_);
}

std::string SearchRow::shownPath(const std::string& rootLabel) const {
    if (names.empty()) return rootLabel;
    // The first-level folder's path is trimmed at both ends, a deeper one at its end, as the
    // file list shows them; the entry's own name stays as it is.
    std::string path = rootLabel + "\\" + names.front();
    if (names.size() == 1) return path;
    path = trimmed(path);
    for (size_t i = 1; i < names.size(); ++i) path = trimmedEnd(path) + "\\" + names[i];
    return path;
}

std::string SearchRow::volumePath() const {
    std::string path;
    for (const std::string& name : names) path += (path.empty() ? "" : "/") + name;
    return path;
}

NameSearch::Outcome NameSearch::run(const std::string& pattern, Feedback& feedback,
                                    const std::function<void(const SearchRow&)>& onRow) {
    matches_ = 0;
    auto finish = [&] {
        feedback.message(kSearchFinishedText);
        feedback.status(kSearchFinishedText);
        return Outcome::Finished;
    };
    fs::TreeItem root = tree_.root();
    if (pattern.empty() || root == fs::kNoItem) return finish();
    const SearchPattern compiled(pattern);
    std::vector<std::string> names;
    for (fs::TreeItem item = tree_.firstChild(root); item != fs::kNoItem; item = tree_.nextSibling(item)) {
        fs::EntryRef entry = tree_.data(item);
        if (tree_.firstChild(item) != fs::kNoItem) {
            // A folder with children, shown or still behind its placeholder.
            if (entry != fs::kNoEntry && parser_.qualifiesAsSaveFolder(entry) && compiled.ok()) {
                output::FolderSaver counter(parser_, feedback, control_);
                int64_t files = counter.countFiles(entry);
                feedback.progressRange(0, files);
                names.assign(1, parser_.name(entry));
                searchFolder(entry, names, compiled, feedback, onRow);
                feedback.progressPosition(files);
            }
            control_.clearStop();
            continue;
        }
        if (entry == fs::kNoEntry) continue;
        if (!compiled.ok()) {
            feedback.message(compiled.refusal());
            return Outcome::BadPattern;
        }
        std::string name = parser_.name(entry);
        if (compiled.matches(name)) addRow(entry, {name}, feedback, onRow);
    }
    return finish();
}

void NameSearch::searchFolder(fs::EntryRef folder, std::vector<std::string>& names, const SearchPattern& pattern,
                              Feedback& feedback, const std::function<void(const SearchRow&)>& onRow) {
    // Each folder is searched once, however its child lists loop.
    std::unordered_set<fs::EntryRef> seen{folder};
    std::function<void(fs::EntryRef, int)> walk = [&](fs::EntryRef at, int depth) {
        for (fs::EntryRef child : output::FolderSaver::childrenOf(parser_, at)) {
            if (control_.poll()) return;
            feedback.progressPosition(static_cast<int64_t>(static_cast<uint32_t>(matches_)));
            std::string name = parser_.name(child);
            if (parser_.isFile(child)) {
                if (!pattern.matches(name)) continue;
                names.push_back(name);
                addRow(child, names, feedback, onRow);
                names.pop_back();
            } else if (parser_.isFolder(child)) {
                if (name == "." || depth >= kMaxDepth || !seen.insert(child).second) continue;
                names.push_back(name);
                walk(child, depth + 1);
                names.pop_back();
            }
        }
    };
    walk(folder, 0);
}

void NameSearch::addRow(fs::EntryRef entry, const std::vector<std::string>& names, Feedback& feedback,
                        const std::function<void(const SearchRow&)>& onRow) {
    SearchRow row;
    row.names = names;
    row.entry = entry;
    row.texts = parser_.entryTexts(entry);
    row.sizeText = parser_.sizeText(entry);
    ++matches_;
    if (onRow) onRow(row);
    feedback.status("searched file " + std::to_string(matches_));
}

}  // namespace quenlow::recovery
