// quenlow signatures add FILE ... / signatures list FILE [--json]: the signature dialog on
// the command line. `add` appends one record to a settings file (created when missing);
// `list` shows the records a file yields to the carving engine.

#include <iostream>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/TerminalText.h"
#include "platform/ReadOnlyFile.h"
#include "platform/TextConvert.h"
#include "raw/SettingsFile.h"

namespace quenlow::cli {

namespace {

struct AddOptions {
    std::string file;
    raw::SignatureFields fields;
};

struct ListOptions {
    std::string file;
    bool json = false;
};

std::string hexText(const std::array<uint8_t, raw::kMaxSignatureBytes>& bytes, size_t length) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < std::min(length, bytes.size()); ++i) {
        if (i > 0) out += ",";
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

void add(CliContext& context, const AddOptions& o) {
    std::string message = raw::appendSignatureRecord(o.file, o.fields);
    if (message != raw::kRecordSavedText) {
        context.error(o.file + ": " + message);
        // The fields' refusals are bad usage; a file that cannot be written is a failure.
        context.exitStatus = message.rfind("file can not", 0) == 0 ? kExitFailed : kExitUsage;
        return;
    }
    std::cout << message << "\n";
    context.exitStatus = kExitOk;
}

void list(CliContext& context, const ListOptions& o) {
    platform::ReadOnlyFile file;
    if (!file.open(o.file)) {
        context.error(std::string(raw::kCannotOpenText) + ": " + file.error());
        context.exitStatus = kExitFailed;
        return;
    }
    // A valid file is at most 1 MiB and a record; read one record more to tell a larger one.
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(file.size(), 1048576 + 2 * raw::kRecordBytes)));
    int64_t got = bytes.empty() ? 0 : file.readAt(bytes.data(), bytes.size(), 0);
    bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
    raw::LoadedRecords loaded = raw::parseSettings(bytes, false);
    if (!loaded.refusal.empty()) {
        context.error(o.file + ": " + loaded.refusal);
        context.exitStatus = kExitFailed;
        return;
    }
    if (o.json) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (const raw::SignatureRecord& r : loaded.records) {
            nlohmann::ordered_json j;
            j["record"] = r.recordNumber;
            j["extension"] = platform::utf16ToUtf8(r.extension);
            j["extension_length"] = r.extensionLength;
            j["start"] = hexText(r.start, r.startLength);
            j["end"] = hexText(r.end, r.endLength);
            j["size_offset"] = r.sizeOffset;
            j["size_bytes"] = r.sizeBytes;
            j["header_size"] = r.headerSize;
            j["size_includes_header"] = r.sizeIncludesHeader != 0;
            j["approximate_size"] = r.approximateSize;
            j["skip_size"] = r.skipSize;
            j["category"] = platform::utf16ToUtf8(r.category);
            all.push_back(j);
        }
        printJson(all);
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const raw::SignatureRecord& r : loaded.records)
            rows.push_back({std::to_string(r.recordNumber), platform::utf16ToUtf8(r.extension),
                            hexText(r.start, r.startLength), hexText(r.end, r.endLength),
                            std::to_string(r.sizeOffset), std::to_string(r.sizeBytes), std::to_string(r.headerSize),
                            r.sizeIncludesHeader ? "yes" : "no", std::to_string(r.approximateSize),
                            std::to_string(r.skipSize), platform::utf16ToUtf8(r.category)});
        writeTable(std::cout,
                   {"#", "Ext", "Start", "End", "Size offset", "Size bytes", "Header", "Incl.", "Approx. size", "Skip",
                    "Category"},
                   rows);
    }
    context.exitStatus = kExitOk;
}

Registration registration(70, [](CLI::App& app, CliContext& context) {
    auto* cmd = app.add_subcommand("signatures", "write and read signature files for carve");
    cmd->require_subcommand(1);

    auto a = std::make_shared<AddOptions>();
    auto* addCmd = cmd->add_subcommand("add", "append one file type to a signature file (created when missing)");
    addCmd->add_option("FILE", a->file, "the signature file")->required();
    addCmd->add_option("--ext", a->fields.extension, "the extension, without a dot (4 letters are kept)")->required();
    addCmd->add_option("--start", a->fields.startSignature,
                       "the bytes a file starts with: hexadecimal, comma-separated, 0x optional; 2A matches any byte")
        ->required();
    addCmd->add_option("--end", a->fields.endSignature, "the bytes a file ends with (optional)");
    addCmd->add_option("--size-offset", a->fields.sizeOffset, "where the file's size lies in its first sector");
    addCmd->add_option("--size-bytes", a->fields.sizeBytes, "the size field's width in bytes (little-endian)");
    addCmd->add_option("--header-size", a->fields.headerSize, "header bytes the size field does not count");
    addCmd->add_flag("--size-includes-header", a->fields.sizeIncludesHeader, "the size field counts the header too");
    addCmd->add_option("--approx-size", a->fields.approximateSize, "the size of a file whose end is not known, in bytes");
    addCmd->add_option("--skip", a->fields.skipSize, "bytes to skip after a find (kept on sector starts)");
    addCmd->add_option("--category", a->fields.category, "the category to list the finds under (49 characters)");
    addCmd->callback([&context, a] { add(context, *a); });

    auto l = std::make_shared<ListOptions>();
    auto* listCmd = cmd->add_subcommand("list", "show the records of a signature file");
    listCmd->add_option("FILE", l->file, "the signature file")->required();
    listCmd->add_flag("--json", l->json, "one JSON object per record");
    listCmd->callback([&context, l] { list(context, *l); });
});

}  // namespace

}  // namespace quenlow::cli
