#include "filesystems/ntfs/NtfsLinker.h"

#include "filesystems/ntfs/NtfsRecord.h"

namespace quenlow::fs {

void NtfsLinker::beginParse() {
    if (!walkWholeLists) lastChild_.assign(static_cast<size_t>(table_.size()), 0);
}

void NtfsLinker::endParse() { std::vector<int64_t>().swap(lastChild_); }

void NtfsLinker::link(int64_t i) {
    const int64_t n = table_.size();
    NtfsEntry& e = table_.at(i);
    int64_t p = e.parentRef;
    if (p >= i || p < 0) {
        e.nextSibling = 0;
        if (p >= n || p < 0) {
            e.orphan = NtfsOrphan::Yes;
            return;
        }
        if (p == i) {
            // Its own parent: the root folder, or an entry that belongs under the orphan
            // folder. Decided once the root is known; never its own child.
            e.orphan = NtfsOrphan::OwnParent;
            return;
        }
        if (table_.at(p).firstChild == 0) table_.at(p).firstChild = i;
        append(i);
        return;
    }
    NtfsEntry& parent = table_.at(p);
    if (parent.isFolder()) {
        if (parent.firstChild == 0 && e.hasName) parent.firstChild = i;
        append(i);
    } else {
        e.orphan = NtfsOrphan::Yes;
    }
}

void NtfsLinker::append(int64_t i) {
    const int64_t n = table_.size();
    NtfsEntry& e = table_.at(i);
    if (e.selfIndex == 0 || e.selfIndex >= n) return;
    int64_t p = e.parentRef;
    if (p < 0 || p >= n) return;
    NtfsEntry& parent = table_.at(p);
    int64_t g = p == 0 ? 0 : parent.firstChild;
    if (g == 0) {
        parent.firstChild = i;
        return;
    }
    if (g < 0 || g >= n) return;
    if (table_.at(g).signature != kFileSignature) return;
    if (g == i || p == i) return;
    // Children are only ever added at the end of a list while linking, so the walk may
    // start at the last child seen for this folder.
    bool remember = !walkWholeLists && static_cast<size_t>(p) < lastChild_.size();
    if (remember && lastChild_[static_cast<size_t>(p)] > 0) g = lastChild_[static_cast<size_t>(p)];
    for (int64_t steps = 0; steps < n; ++steps) {
        if (g == i) return;
        int64_t next = static_cast<int64_t>(static_cast<uint32_t>(table_.at(g).nextSibling));
        if (next == 0 || next >= n) break;
        if (table_.at(next).selfIndex == table_.at(g).selfIndex) break;
        g = next;
    }
    if (g == i) return;
    table_.at(g).nextSibling = i;
    if (remember) lastChild_[static_cast<size_t>(p)] = i;
}

NtfsLinker::Arrangement NtfsLinker::arrange(const char* orphanName, bool deep) {
    Arrangement a;
    NtfsEntry orphanFolder;
    orphanFolder.signature = kFileSignature;
    orphanFolder.kind = NtfsKind::Folder;
    table_.entries.push_back(orphanFolder);
    a.orphanIndex = table_.size() - 1;
    table_.storeName(a.orphanIndex, orphanName);
    const int64_t n = table_.size();

    // The root is the first entry named ".".
    int64_t root = n;
    for (int64_t i = 0; i < n; ++i) {
        if (table_.nameView(i) == ".") {
            root = i;
            break;
        }
    }
    for (int64_t i = 0; i < n; ++i) {
        NtfsEntry& e = table_.at(i);
        if (e.orphan == NtfsOrphan::OwnParent) e.orphan = i == root ? NtfsOrphan::No : NtfsOrphan::Yes;
    }
    if (root < n) table_.at(root).orphan = NtfsOrphan::No;
    a.rootIndex = root < n ? root : -1;

    if (deep) {
        NtfsEntry& o = table_.at(a.orphanIndex);
        o.parentRef = root < n ? root : 0;
        o.selfIndex = a.orphanIndex;
        o.recordFlags = 1;
        arrangeDeep(a);
        cutRevisits(a);
        return a;
    }
    if (root > 0 && root < n) {
        NtfsEntry& o = table_.at(a.orphanIndex);
        o.parentRef = root;
        o.nextSibling = 0;
        o.selfIndex = a.orphanIndex;
        o.recordFlags = 1;
        int64_t last = table_.at(root).firstChild;
        if (last < 0 || last >= n) last = 0;
        for (int64_t steps = 0; steps < n; ++steps) {
            int64_t next = table_.at(last).nextSibling;
            if (next <= 0 || next >= n || next == a.orphanIndex) break;
            last = next;
        }
        if (last != a.orphanIndex) table_.at(last).nextSibling = a.orphanIndex;
    }
    orphanChildrenOfFiles();
    gatherOrphans(a);
    cutRevisits(a);
    return a;
}

void NtfsLinker::arrangeDeep(const Arrangement& a) {
    const int64_t n = table_.size();
    auto push = [&](int64_t folder, int64_t i) {
        table_.at(i).nextSibling = table_.at(folder).firstChild;
        table_.at(folder).firstChild = i;
    };
    table_.at(a.orphanIndex).firstChild = 0;
    int64_t current = a.orphanIndex, folders = 0;
    for (int64_t i = 0; i < n; ++i) {
        if (i == a.orphanIndex) continue;
        NtfsEntry& e = table_.at(i);
        e.firstChild = 0;
        e.parentRef = 0;
        e.nextSibling = 0;
        if (i == a.rootIndex || !e.hasName) continue;  // the root's own list is not shown
        if (!e.isFolder()) {
            push(current, i);
            continue;
        }
        // Files met before the first folder stay in the orphan folder's list after it.
        if (folders <= kDeepFolderLimit) {
            push(a.orphanIndex, i);
            e.parentRef = a.orphanIndex;
            current = i;
            ++folders;
        } else {
            push(current, i);
        }
    }
}

void NtfsLinker::orphanChildrenOfFiles() {
    // A parent slot that turned out to hold a file (linked before the parent was read)
    // hands its children to the orphan folder; a file's child list is never shown.
    const int64_t n = table_.size();
    for (int64_t p = 0; p < n; ++p) {
        NtfsEntry& parent = table_.at(p);
        if (parent.isFolder() || parent.firstChild <= 0) continue;
        int64_t c = parent.firstChild;
        parent.firstChild = 0;
        for (int64_t steps = 0; c > 0 && c < n && steps < n; ++steps) {
            NtfsEntry& child = table_.at(c);
            int64_t next = child.nextSibling;
            if (child.orphan != NtfsOrphan::No) break;
            child.orphan = NtfsOrphan::Yes;
            child.nextSibling = 0;
            c = next;
        }
    }
}

void NtfsLinker::gatherOrphans(const Arrangement& a) {
    const int64_t n = table_.size();
    NtfsEntry& o = table_.at(a.orphanIndex);
    const int64_t root = a.rootIndex < 0 ? n : a.rootIndex;
    bool first = true;
    for (int64_t i = 0; i < n; ++i) {
        NtfsEntry& e = table_.at(i);
        if (e.orphan == NtfsOrphan::No || i == a.orphanIndex || i == root) continue;
        if (first) {
            o.firstChild = i;
            e.parentRef = a.orphanIndex;
            e.nextSibling = -1;
            first = false;
        } else {
            e.nextSibling = o.firstChild;
            o.firstChild = i;
        }
    }
}

void NtfsLinker::cutRevisits(const Arrangement& a) {
    // Every entry may be reached once from the root: a child met again (a list that loops,
    // or a folder below itself) ends its list there.
    const int64_t n = table_.size();
    std::vector<bool> seen(static_cast<size_t>(n), false);
    std::vector<int64_t> folders;
    // Without a root the orphan folder is where every walk starts.
    if (a.rootIndex >= 0 && a.rootIndex < n) {
        folders.push_back(a.rootIndex);
        seen[static_cast<size_t>(a.rootIndex)] = true;
    }
    if (a.orphanIndex >= 0 && a.orphanIndex < n) {
        folders.push_back(a.orphanIndex);
        seen[static_cast<size_t>(a.orphanIndex)] = true;
    }
    // The orphan folder is normally the root's last child: let the root's walk meet it.
    auto walk = [&](int64_t f, bool allowOrphanFolder) {
        int64_t* link = &table_.at(f).firstChild;
        while (*link > 0) {
            int64_t c = *link;
            if (c >= n) {
                *link = 0;
                break;
            }
            if (seen[static_cast<size_t>(c)] && !(allowOrphanFolder && c == a.orphanIndex)) {
                *link = 0;
                break;
            }
            if (!seen[static_cast<size_t>(c)]) {
                seen[static_cast<size_t>(c)] = true;
                if (table_.at(c).isFolder() && table_.at(c).firstChild > 0) folders.push_back(c);
            }
            if (c == a.orphanIndex) break;  // the orphan folder ends the root's list
            link = &table_.at(c).nextSibling;
        }
    };
    for (size_t k = 0; k < folders.size(); ++k) walk(folders[k], folders[k] == a.rootIndex);
}

}  // namespace quenlow::fs
