#pragma once
// The member page's rules, without widgets: the members in the order they were added (the
// list shows the newest on top, the bottom row is member 0), removing only the newest, the
// offsets each member proposes through the LDM probe and the user may retype, the RAID
// level with its parity layouts, the stripe sizes, and Next, which writes all of it into
// the RAID virtual disk of the recovery context.

#include <cstdint>
#include <string>
#include <vector>

namespace quenlow::disk {
struct RecoveryContext;
}

namespace quenlow::recovery {

inline constexpr const char* kTopmostOnlyText = "can delete topmost item only";
inline constexpr const char* kNoLevelOrMembersText = "either radio button not selected or files not in the table.. ";
inline constexpr const char* kObjectLostText = "Object Information Lost..plz go back and then press next..";

class MemberList {
public:
    // Drives (whole disks and raw image files) or VHD files.
    enum class Kind { Drives, VhdFiles };

    // One row of "Selected:": the member's name and its partition offset as shown (typed
    // text is kept as typed and read only on Next).
    struct Row {
        std::string name;
        std::string offset;
    };

    // Replaces the context's RAID virtual disk with a new, empty one.
    MemberList(Kind kind, disk::RecoveryContext& context);
    Kind kind() const { return kind_; }

    // The rows, top first (the newest member first).
    const std::vector<Row>& rows() const { return rows_; }
    // The member names in member order (the virtual disk's memberNames).
    std::vector<std::string> memberNames() const;

    // Adds a drive or image file (drives) or a VHD file with the offset its probe proposes.
    // A source the user may not read is not added: false, with `error` naming it and, for a
    // permission refusal, what to do.
    bool add(const std::string& path, std::string& error);
    // The question to ask before `path` is added again ("" when it is not a member yet): the
    // same disk twice is rarely meant.
    std::string addedAgainQuestion(const std::string& path) const;
    void addMissing();
    // Remove with `selected` the selected row (-1: none): only the top row goes. Returns
    // the message to show, or "".
    std::string remove(int selected);
    // Gives the selected row the offset typed (blanks trimmed; nothing left: no change).
    bool changeOffset(int selected, const std::string& typed);

    // RAID level: -1 none chosen yet, 0 or 5. RAID-5 checks layout 3; RAID-0 clears and
    // disables the layouts.
    void chooseLevel(int level);
    int level() const { return level_; }
    bool layoutsEnabled() const { return level_ == 5; }
    // 0 none, 1, 2 or 3: "Rotating Parity 0 with Data Restart.", "Rotating Parity N with
    // Data Restart.", "Rotating Parity N with Data Continuation.". Ignored while disabled.
    void chooseLayout(int layout);
    int layout() const { return layout_; }

    // "32", "64", "128", "256", "512"; "128" is chosen at start.
    static const std::vector<std::string>& stripeEntries();
    std::string stripeText = "128";

    // The texts of the parity layouts, in order 1-3.
    static const std::vector<std::string>& layoutTexts();

    // Next: "" when the virtual disk was set up (names, offsets from the bottom row up,
    // level, layout, stripe), else the message to show and the page stays (also for an
    // offset that is no number).
    std::string next();

    // The array the detection proposes from the members' contents. Applying it fills the
    // level, layout, stripe, member order and offsets of this page.
    struct ArrayProposal {
        int level = -1;
        int layout = 3;
        int64_t stripeSectors = 128;
        std::vector<std::string> memberNames;  // member order
        std::vector<int64_t> offsets;          // per member
    };
    // Fills the page from a proposal. False when the proposal's stripe is not one the list
    // offers or the counts differ.
    bool applyProposal(const ArrayProposal& proposal);

    // What the array detection reads from the members: a proposal this page can show, or
    // why there is none.
    struct ProposalOutcome {
        bool usable = false;
        ArrayProposal proposal;
        // The proposal in the user's words (level, layout, stripe, members in order with
        // their offsets, the confidence and the notes), or why none can be offered.
        std::string text;
    };
    // Runs the detection over `names` (member order; MISSING placeholders allowed). It
    // reads a bounded sample of each member, which may take seconds on slow disks: call it
    // off the UI thread. The page's own stripe list and three layouts bound what can be
    // shown; a proposal outside them is refused with the command line that opens it.
    static ProposalOutcome propose(const std::vector<std::string>& names, Kind kind);

private:
    Kind kind_;
    disk::RecoveryContext& context_;
    std::vector<Row> rows_;
    int level_ = -1;
    int layout_ = 0;
};

// A read-only probe of whether `path` can be read; "" when it can, else the reason, with
// what to do when the system refused the permission.
std::string unreadableReason(const std::string& path);

}  // namespace quenlow::recovery
