#pragma once
// The wizard's check-box tree as the folder tree that parsers fill and the browse rules
// grow. The items live in a TreeModel (their numbers are the model's, never reused, so a
// number kept from a deleted item names nothing); the CXHtmlTree shows them. Every call
// changes the model at once, under a lock, and queues the same change for the widget, which
// the UI thread applies in order, in batches, when it next runs its events or asks for a
// widget item; a worker never waits for the UI thread, and a reader (of any thread) sees the
// model complete to the last call.

#include <QObject>
#include <QHash>
#include <QPointer>
#include <mutex>
#include <vector>

#include "recovery/TreeModel.h"
#include "ui/controls/CXHtmlTree.h"

class QTreeWidgetItem;

namespace quenlow::ui {

class FolderTreeAdapter : public QObject, public fs::FolderTree {
    Q_OBJECT
public:
    // Lives on the UI thread; until attach() it is only a model.
    explicit FolderTreeAdapter(QObject* parent = nullptr);
    ~FolderTreeAdapter() override;

    // Shows the model in `view` from now on (what it holds already is inserted at once);
    // null: shows it nowhere. UI thread.
    void attach(CXHtmlTree* view);
    CXHtmlTree* view() const { return view_; }
    // Applies every change queued by workers. UI thread.
    void flush();

    // UI thread, after applying the queue: the item a widget item shows, and the widget item
    // of an item (null when it is not shown).
    fs::TreeItem itemOf(QTreeWidgetItem* widgetItem);
    QTreeWidgetItem* widgetItem(fs::TreeItem item);

    void clear() override;
    fs::TreeItem insertItem(fs::TreeItem parent, const std::string& text, bool folder, uint64_t data) override;
    void deleteItem(fs::TreeItem item) override;
    void setText(fs::TreeItem item, const std::string& text) override;
    void setRed(fs::TreeItem item) override;
    void expand(fs::TreeItem item) override;

    fs::TreeItem root() const override;
    fs::TreeItem firstChild(fs::TreeItem item) const override;
    fs::TreeItem nextSibling(fs::TreeItem item) const override;
    std::string text(fs::TreeItem item) const override;
    uint64_t data(fs::TreeItem item) const override;
    bool isFolderItem(fs::TreeItem item) const override;
    bool isRed(fs::TreeItem item) const override;

private:
    struct Change {
        enum class Kind { Clear, Insert, Delete, Text, Red, Expand } kind;
        fs::TreeItem item = fs::kNoItem;
        fs::TreeItem parent = fs::kNoItem;
        std::string text;
        bool folder = false;
    };
    // Queues `change` (the lock is held) and asks the UI thread to apply the queue.
    void queue(Change change);
    void apply(const Change& change);
    void forget(QTreeWidgetItem* widgetItem);

    mutable std::mutex mutex_;
    recovery::TreeModel model_;
    std::vector<Change> pending_;
    bool flushQueued_ = false;
    bool flushing_ = false;  // UI thread
    // UI thread only.
    QPointer<CXHtmlTree> view_;
    QHash<fs::TreeItem, QTreeWidgetItem*> shown_;
    QHash<QTreeWidgetItem*, fs::TreeItem> items_;
};

}  // namespace quenlow::ui
