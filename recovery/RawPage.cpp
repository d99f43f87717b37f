#include "recovery/RawPage.h"

#include <filesystem>
#include <fstream>

#include "output/OutputName.h"
#include "raw/SettingsFile.h"

namespace quenlow::recovery {

namespace {

// Passes everything on and notes whether a settings file was refused.
class RefusalWatch : public Feedback {
public:
    explicit RefusalWatch(Feedback& inner) : inner_(inner) {}
    bool refused = false;
    void status(const std::string& t) override { inner_.status(t); }
    void detail(const std::string& t) override { inner_.detail(t); }
    void progressRange(int64_t l, int64_t h) override { inner_.progressRange(l, h); }
    void progressPosition(int64_t p) override { inner_.progressPosition(p); }
    bool ask(const std::string& q) override { return inner_.ask(q); }
    void message(const std::string& t) override {
        if (t.starts_with(raw::kCannotOpenText) || t.starts_with(raw::kNotValidText)) refused = true;
        inner_.message(t);
    }

private:
    Feedback& inner_;
};

// The name a find is saved under when nothing else holds it: its item text without the blank.
std::string wantedName(const std::string& itemText) {
    std::string name = itemText;
    if (size_t blank = name.find(" ."); blank != std::string::npos) name.erase(blank, 1);
    return output::safeName(name);
}

std::string rangesText(const std::vector<disk::ByteRange>& ranges) {
    constexpr size_t kShown = 4;
    std::string out = "bytes";
    for (size_t i = 0; i < ranges.size() && i < kShown; ++i)
        out += (i ? ", " : " ") + std::to_string(ranges[i].offset) + "-" + std::to_string(ranges[i].end() - 1);
    if (ranges.size() > kShown) out += " and " + std::to_string(ranges.size() - kShown) + " more ranges";
    return out;
}

}  // namespace

std::string rawSaveRefusal(bool busy, size_t checkedFinds) {
    if (busy) return kRawBusyText;
    if (checkedFinds == 0) return kRawNothingCheckedText;
    return {};
}

bool openSettingsFile(const std::string& path, std::string& error) {
    std::error_code ec;
    if (path.empty() || std::filesystem::is_directory(path, ec)) {
        error = std::string(kSettingsNotCreatedText) + ": " + (path.empty() ? "no file was named" : path + " is a folder");
        return false;
    }
    std::ofstream file(path, std::ios::binary | std::ios::app);
    if (!file) {
        error = std::string(kSettingsNotCreatedText) + ": " + path;
        return false;
    }
    return true;
}

std::string RawSaveReport::text(const std::string& destination, size_t listed) const {
    if (!error.empty()) return "Nothing was saved: " + error;
    std::string out = std::to_string(saved) + " file(s) saved into " + destination + ".";
    auto list = [&](const std::vector<Line>& lines, const std::string& heading) {
        if (lines.empty()) return;
        out += "\n" + std::to_string(lines.size()) + " " + heading + ":";
        for (size_t i = 0; i < lines.size() && i < listed; ++i) out += "\n  " + lines[i].find + ": " + lines[i].what;
        if (lines.size() > listed) out += "\n  ... and " + std::to_string(lines.size() - listed) + " more";
    };
    list(renamed, "saved under another name, as the name was taken");
    list(damaged, "saved with bytes that could not be read, written as zeros");
    list(failed, "could not be saved");
    if (notSaved > 0) out += "\n" + std::to_string(notSaved) + " not saved: the save was stopped.";
    return out;
}

RawRuns::Run& RawRuns::add() { return runs_.emplace_back(); }

bool RawRuns::parse(Run& run, RawRecovery::ParseOptions options, disk::readWriteInterface& disk,
                    const volumes::VolumeRecord& volume, Feedback& feedback, WorkControl& control) {
    if (options.loadDefault && options.userPath == options.defaultPath) options.userPath.clear();
    RefusalWatch watch(feedback);
    const bool ok = run.raw.parse(options, disk, volume, -1, run.tree, watch, control);
    // The default file's refusals do not touch the path field.
    run.settingsRefused = watch.refused && !options.userPath.empty() && !ok && run.raw.engine().typeCount() == 0;
    return ok;
}

RawSaveReport RawRuns::save(const std::vector<FindRef>& which, const std::string& destination, Feedback& feedback,
                            WorkControl& control) {
    RawSaveReport report;
    feedback.progressRange(0, static_cast<int64_t>(which.size()));
    for (size_t i = 0; i < which.size(); ++i) {
        const FindRef ref = which[i];
        if (ref.run >= runs_.size() || ref.find >= runs_[ref.run].raw.engine().found().size()) continue;
        RawRecovery& raw = runs_[ref.run].raw;
        const std::string& item = raw.engine().found()[ref.find].name;
        feedback.progressPosition(static_cast<int64_t>(i));
        feedback.status("Saving " + item);
        std::string error;
        std::vector<RawRecovery::Saved> saved = raw.save({ref.find}, destination, control, error);
        if (!error.empty()) {
            report.error = error;
            return report;
        }
        for (const RawRecovery::Saved& s : saved) {
            if (s.stopped) {
                report.notSaved += which.size() - i;
                feedback.progressPosition(static_cast<int64_t>(which.size()));
                return report;
            }
            if (!s.ok) {
                report.failed.push_back({item, s.error});
                continue;
            }
            ++report.saved;
            if (s.path.substr(s.path.rfind('/') + 1) != wantedName(item))
                report.renamed.push_back({item, "saved as " + s.path});
            if (!s.damaged.empty()) report.damaged.push_back({item, s.path + ": " + rangesText(s.damaged)});
        }
    }
    feedback.progressPosition(static_cast<int64_t>(which.size()));
    return report;
}

}  // namespace quenlow::recovery
