#include "recovery/RawRecovery.h"

#include <filesystem>
#include <map>

#include "filesystems/DataStream.h"
#include "output/DataWriter.h"
#include "output/OutputName.h"
#include "platform/CaseFold.h"
#include "platform/OutputFolder.h"
#include "raw/SettingsFile.h"
#include "raw/Sha256.h"

namespace quenlow::recovery {

namespace {

// The find's bytes as the writer reads them, hashed on the way; no part is a hole, so every
// byte written passes through the hash.
class HashingStream : public fs::DataStream {
public:
    HashingStream(fs::DataStream& inner, raw::Sha256& hash) : inner_(inner), hash_(hash) {}
    uint64_t size() const override { return inner_.size(); }
    size_t read(uint64_t offset, void* out, size_t length) override {
        size_t n = inner_.read(offset, out, length);
        hash_.update(out, n);
        return n;
    }
    Extent extentAt(uint64_t offset) const override {
        return {offset < size() ? size() - offset : 0, false};
    }

private:
    fs::DataStream& inner_;
    raw::Sha256& hash_;
};

}  // namespace

std::string defaultSettingsPath() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    return (exe.parent_path() / raw::kDefaultSettingsName).string();
}

bool RawRecovery::parse(const ParseOptions& options, disk::readWriteInterface& disk,
                        const volumes::VolumeRecord& volume, int64_t volumeBytes, fs::FolderTree& tree,
                        Feedback& feedback, WorkControl& control) {
    engine_ = std::make_unique<raw::myJpg>();
    raw::myJpg loaded;
    if (options.loadDefault) {
        raw::loadSettingsFile(options.defaultPath, true, loaded, feedback);
        feedback.status("Processing.....");
    }
    if (!options.userPath.empty() && !raw::loadSettingsFile(options.userPath, false, loaded, feedback)) {
        feedback.status("Processing done");
        return false;
    }
    if (options.defaultPath.empty()) {
        feedback.message(kEnterInfoFileText);
        feedback.status("Processing done");
        return false;
    }
    // --type: only the chosen extensions, in their load order.
    for (size_t t = 0; t < loaded.typeCount(); ++t) {
        const raw::SignatureEntry& e = loaded.entries()[t];
        bool keep = options.types.empty();
        for (const std::string& want : options.types)
            if (platform::foldCase(want) == platform::foldCase(e.extension)) keep = true;
        if (keep) engine_->addType(e, loaded.typeRecords()[t]);
    }
    if (volumeBytes < 0) volumeBytes = volumes::recordSizeBytes(volume);
    disk::VolumeView view(disk, volume.startSector * 512);
    // Never past the end of the source.
    int64_t source = view.sourceLength();
    if (source >= 0) volumeBytes = std::min(volumeBytes, source);
    if (volumeBytes <= 0) {
        feedback.message(kZeroSizeVolumeText);
        feedback.status("Processing done");
        return false;
    }
    disk_ = &disk;
    volumeStart_ = volume.startSector * 512;
    volumeBytes_ = volumeBytes;
    raw::myJpg::Setup setup;
    setup.view = view;
    setup.volumeBytes = volumeBytes;
    setup.tree = &tree;
    setup.feedback = &feedback;
    setup.control = &control;
    setup.chunkBytes = options.chunkBytes;
    feedback.status("Processing.....");
    bool ok = engine_->run(setup);
    feedback.status("Processing done");
    return ok;
}

std::vector<RawRecovery::Saved> RawRecovery::save(const std::vector<size_t>& which, const std::string& destination,
                                                  WorkControl& control, std::string& error) {
    std::vector<Saved> result;
    platform::OutputFolder root;
    if (disk_ == nullptr) {
        error = "nothing was carved";
        return result;
    }
    if (!root.openRoot(destination)) {
        error = root.error();
        return result;
    }
    struct Folder {
        platform::OutputFolder folder;
        output::NameClaims claims;
        std::string name;
        bool ok = false;
        std::string error;
    };
    std::map<std::string, Folder> folders;
    output::NameClaims folderNames;
    disk::VolumeView view(*disk_, volumeStart_);
    const auto& found = engine_->found();
    for (size_t index : which) {
        if (index >= found.size()) continue;
        Saved saved;
        saved.find = index;
        if (control.poll()) {
            saved.stopped = true;
            saved.error = "stopped before it was saved";
            result.push_back(saved);
            continue;
        }
        const raw::Find& f = found[index];
        const std::string& category = engine_->entries()[static_cast<size_t>(f.type)].category;
        auto [it, added] = folders.try_emplace(category);
        Folder& folder = it->second;
        if (added) {
            std::string name = output::safeName(category.empty() ? "unnamed" : category);
            bool created = false;
            folder.name = name;
            folder.ok = root.openChild(name, folder.folder, created, folder.error);
        }
        if (!folder.ok) {
            saved.error = folder.error;
            result.push_back(saved);
            continue;
        }
        // The item text without its blank: "1048576 .jpg" is saved as "1048576.jpg".
        std::string itemName = f.name;
        if (size_t blank = itemName.find(" ."); blank != std::string::npos) itemName.erase(blank, 1);
        std::string name = folder.claims.claim(output::safeName(itemName), false,
                                               [&](const std::string& n) { return folder.folder.has(n); });
        saved.path = folder.name + "/" + name;
        fs::RunStream run(view, {{static_cast<uint64_t>(f.size), f.start}}, static_cast<uint64_t>(f.size));
        raw::Sha256 hash;
        fs::EntryData data;
        data.size = static_cast<uint64_t>(f.size);
        data.stream = std::make_unique<HashingStream>(run, hash);
        output::WriteOutcome outcome = output::writeData(data, folder.folder, name, control);
        saved.ok = outcome.ok;
        saved.stopped = outcome.stopped;
        saved.error = outcome.error;
        saved.damaged = run.damaged();
        if (outcome.ok) saved.sha256 = hash.hex();
        result.push_back(std::move(saved));
    }
    return result;
}

}  // namespace quenlow::recovery
