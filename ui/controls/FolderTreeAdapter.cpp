#include "ui/controls/FolderTreeAdapter.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QSet>
#include <QStyle>

#include "ui/Messages.h"

namespace quenlow::ui {

namespace {

// Icons by the name's type, from the desktop theme where it has one; asked once a type.
QIcon iconFor(const std::string& name, bool folder) {
    static QFileIconProvider provider;
    static const QIcon folderIcon = provider.icon(QAbstractFileIconProvider::Folder);
    static const QIcon fileIcon = provider.icon(QAbstractFileIconProvider::File);
    static QHash<QString, QIcon> byType;
    if (folder) return folderIcon;
    static QMimeDatabase types;
    const QMimeType type = types.mimeTypeForFile(qs(name), QMimeDatabase::MatchExtension);
    if (type.isDefault()) return fileIcon;
    auto found = byType.constFind(type.name());
    if (found != byType.constEnd()) return *found;
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fileIcon));
    byType.insert(type.name(), icon);
    return icon;
}

}  // namespace

FolderTreeAdapter::FolderTreeAdapter(QObject* parent) : QObject(parent) {}

FolderTreeAdapter::~FolderTreeAdapter() = default;

void FolderTreeAdapter::attach(CXHtmlTree* view) {
    if (view_) view_->deleteAllItems();
    shown_.clear();
    items_.clear();
    view_ = view;
    {
        // The model already holds every change queued so far: the new view is made from
        // the model alone, through the same batches as later changes.
        std::lock_guard lock(mutex_);
        pending_.clear();
        if (view_)
            for (fs::TreeItem item : model_.subtree(fs::kNoItem)) {
                pending_.push_back(
                    {Change::Kind::Insert, item, model_.parent(item), model_.text(item), model_.isFolderItem(item)});
                if (model_.isRed(item)) pending_.push_back({Change::Kind::Red, item, fs::kNoItem, {}, false});
                if (model_.isExpanded(item)) pending_.push_back({Change::Kind::Expand, item, fs::kNoItem, {}, false});
            }
    }
    flush();
}

void FolderTreeAdapter::queue(Change change) {
    pending_.push_back(std::move(change));
    if (flushQueued_) return;
    flushQueued_ = true;
    QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
}

void FolderTreeAdapter::flush() {
    // An expansion applied here may make the page ask for items: it gets them as they are.
    if (flushing_) return;
    std::vector<Change> changes;
    {
        std::lock_guard lock(mutex_);
        changes.swap(pending_);
        flushQueued_ = false;
    }
    if (!view_ || changes.empty()) return;
    flushing_ = true;
    // New items are made first and shown a batch per parent: one layout of the tree for a
    // first level of many thousands, not one per item.
    QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> batches;
    std::vector<QTreeWidgetItem*> parents;  // in the order their batches began
    QSet<QTreeWidgetItem*> unshown;
    auto show = [&] {
        for (QTreeWidgetItem* p : parents) view_->addItems(p, batches.value(p));
        batches.clear();
        parents.clear();
        unshown.clear();
    };
    view_->setUpdatesEnabled(false);
    for (const Change& c : changes) {
        if (c.kind == Change::Kind::Insert) {
            QTreeWidgetItem* parent = c.parent != fs::kNoItem ? shown_.value(c.parent) : nullptr;
            if (c.parent != fs::kNoItem && parent == nullptr) continue;  // its parent went first
            QTreeWidgetItem* w = view_->newItem(qs(c.text), parent);
            if (w == nullptr) continue;
            // Placeholders ("..DUMY..", no entry) get no icon.
            if (c.folder || c.text != "..DUMY..") w->setIcon(0, iconFor(c.text, c.folder));
            shown_.insert(c.item, w);
            items_.insert(w, c.item);
            if (unshown.contains(parent)) {
                view_->addItems(parent, {w});  // under an item not shown yet: nothing to lay out
            } else {
                if (!batches.contains(parent)) parents.push_back(parent);
                batches[parent].append(w);
            }
            unshown.insert(w);
        } else {
            if (c.kind != Change::Kind::Text && c.kind != Change::Kind::Red) show();
            apply(c);
        }
    }
    show();
    view_->setUpdatesEnabled(true);
    flushing_ = false;
}

void FolderTreeAdapter::forget(QTreeWidgetItem* widgetItem) {
    std::vector<QTreeWidgetItem*> pending{widgetItem};
    while (!pending.empty()) {
        QTreeWidgetItem* w = pending.back();
        pending.pop_back();
        shown_.remove(items_.take(w));
        for (int i = 0; i < w->childCount(); ++i) pending.push_back(w->child(i));
    }
}

void FolderTreeAdapter::apply(const Change& c) {
    if (!view_) return;
    if (c.kind == Change::Kind::Clear) {
        view_->deleteAllItems();
        shown_.clear();
        items_.clear();
        return;
    }
    QTreeWidgetItem* w = shown_.value(c.item);
    if (w == nullptr) return;
    switch (c.kind) {
        case Change::Kind::Delete:
            forget(w);
            view_->deleteItem(w);
            break;
        case Change::Kind::Text: w->setText(0, qs(c.text)); break;
        case Change::Kind::Red: view_->setItemTextColour(w, QColor(0xff, 0, 0)); break;
        case Change::Kind::Expand: view_->expandItem(w); break;
        default: break;
    }
}

fs::TreeItem FolderTreeAdapter::itemOf(QTreeWidgetItem* widgetItem) {
    flush();
    return items_.value(widgetItem, fs::kNoItem);
}
QTreeWidgetItem* FolderTreeAdapter::widgetItem(fs::TreeItem item) {
    flush();
    return shown_.value(item);
}

void FolderTreeAdapter::clear() {
    {
        std::lock_guard lock(mutex_);
        model_.clear();
        queue({Change::Kind::Clear, fs::kNoItem, fs::kNoItem, {}, false});
    }
}

fs::TreeItem FolderTreeAdapter::insertItem(fs::TreeItem parent, const std::string& text, bool folder, uint64_t data) {
    fs::TreeItem item;
    {
        std::lock_guard lock(mutex_);
        item = model_.insertItem(parent, text, folder, data);
        queue({Change::Kind::Insert, item, model_.parent(item), text, folder});
    }
    return item;
}

void FolderTreeAdapter::deleteItem(fs::TreeItem item) {
    {
        std::lock_guard lock(mutex_);
        if (!model_.exists(item)) return;
        model_.deleteItem(item);
        queue({Change::Kind::Delete, item, fs::kNoItem, {}, false});
    }
}

void FolderTreeAdapter::setText(fs::TreeItem item, const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        if (!model_.exists(item)) return;
        model_.setText(item, text);
        queue({Change::Kind::Text, item, fs::kNoItem, text, false});
    }
}

void FolderTreeAdapter::setRed(fs::TreeItem item) {
    {
        std::lock_guard lock(mutex_);
        if (!model_.exists(item)) return;
        model_.setRed(item);
        queue({Change::Kind::Red, item, fs::kNoItem, {}, false});
    }
}

void FolderTreeAdapter::expand(fs::TreeItem item) {
    {
        std::lock_guard lock(mutex_);
        if (!model_.exists(item)) return;
        model_.expand(item);
        queue({Change::Kind::Expand, item, fs::kNoItem, {}, false});
    }
}

fs::TreeItem FolderTreeAdapter::root() const {
    std::lock_guard lock(mutex_);
    return model_.root();
}
fs::TreeItem FolderTreeAdapter::firstChild(fs::TreeItem item) const {
    std::lock_guard lock(mutex_);
    return model_.firstChild(item);
}
fs::TreeItem FolderTreeAdapter::nextSibling(fs::TreeItem item) const {
    std::lock_guard lock(mutex_);
    return model_.nextSibling(item);
}
std::string FolderTreeAdapter::text(fs::TreeItem item) const {
    std::lock_guard lock(mutex_);
    return model_.text(item);
}
uint64_t FolderTreeAdapter::data(fs::TreeItem item) const {
    std::lock_guard lock(mutex_);
    return model_.data(item);
}
bool FolderTreeAdapter::isFolderItem(fs::TreeItem item) const {
    std::lock_guard lock(mutex_);
    return model_.isFolderItem(item);
}
bool FolderTreeAdapter::isRed(fs::TreeItem item) const {
    std::lock_guard lock(mutex_);
    return model_.isRed(item);
}

}  // namespace quenlow::ui
