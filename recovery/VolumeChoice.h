#pragma once
// Choosing the volume to recover from: the rows of the volume list, Filter, Add Custom
// Volume, the custom settings of the selected row (start, end, file system) and the checks
// of Next. Plain state and rules; the wizard page and the command line only show them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "volumes/VolumeRecord.h"

namespace quenlow::recovery {

class VolumeChoice {
public:
    // 1: the partition tables were listed; 2: the sectors were scanned (rows newest on top).
    enum class ScanMode { Standard = 1, Advanced = 2 };

    // One row of the list: its column texts and its own copy of the record.
    struct Row {
        std::string volume;       // "VOLUME"
        std::string fileSystem;   // "FILE_SYSTEM"
        std::string volumeSize;   // "VOLUME_SIZE"
        std::string startSector;  // "START_SECTOR"
        volumes::VolumeRecord record;
    };

    enum class Outcome { Stay, RecoveryMode, RawRecovery };
    struct NextResult {
        Outcome outcome = Outcome::Stay;
        std::string message;  // why it stays
    };

    explicit VolumeChoice(ScanMode mode) : mode_(mode) {}
    ScanMode mode() const { return mode_; }

    // Every volume found, in the order found; the finder appends here.
    std::vector<volumes::VolumeRecord>& volumes() { return volumes_; }
    const std::vector<volumes::VolumeRecord>& volumes() const { return volumes_; }
    // Deletes every row and empties the volumes (a new listing).
    void clear();
    // After the partition tables were listed: numbers the records from 0 and shows them in
    // the order found.
    void showListing();
    // A record the scan just appended: shown at the top.
    void addScannedRow(const volumes::VolumeRecord& record);

    const std::vector<Row>& rows() const { return rows_; }
    // The row whose "VOLUME" text is `volume`, or -1.
    int findRow(const std::string& volume) const;

    // Keeps only the records that start one sector after the record before them.
    void filter();
    // Appends a "CUSTOM " record, shows and selects it, and turns the custom settings on
    // with both sectors at 0. Returns its row.
    int addCustomVolume();

    // Selecting a row shows its start and computed end in the custom settings; clicking it
    // also picks the file-system entry that begins with its file system.
    bool selectRow(int row);
    bool clickRow(int row);
    int selectedRow() const { return selected_; }

    // The custom settings group.
    bool customSettings = false;
    std::string startText = "0";  // "Start Sector:"
    std::string endText = "0";    // "End Sector :"
    std::string fileSystemEntry;  // the chosen entry of fileSystemEntries(), empty for none

    // "EXTX", "FAT16", "FAT32", "FAT64", "HFS+", "NTFS", "RAW" (sorted as the list shows them).
    static const std::vector<std::string>& fileSystemEntries();
    // The entry named `name` (letter case ignored), or empty.
    static std::string entryNamed(const std::string& name);

    // Next: checks the choice and applies the custom settings to the chosen record.
    NextResult next();
    const std::optional<volumes::VolumeRecord>& selectedVolume() const { return selectedVolume_; }
    bool customApplied() const { return customApplied_; }

    // The leading decimal number of a text (after blanks), 0 when there is none.
    static int64_t leadingNumber(const std::string& text);
    // A whole decimal number (blanks around it and a sign allowed) that fits 64 bits.
    static bool isNumber(const std::string& text);
    // What the user is told when the field `label` holds `text`, which is no number; "" when
    // it is one. A typed offset or sector read as 0 would open the wrong place of the disk.
    static std::string notNumberText(const std::string& label, const std::string& text);

private:
    Row rowFor(const volumes::VolumeRecord& record) const;

    ScanMode mode_;
    std::vector<volumes::VolumeRecord> volumes_;
    std::vector<Row> rows_;
    int selected_ = -1;
    std::optional<volumes::VolumeRecord> selectedVolume_;
    bool customApplied_ = false;
};

}  // namespace quenlow::recovery
