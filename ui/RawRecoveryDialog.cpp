#include "ui/RawRecoveryDialog.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMimeDatabase>
#include <QSplitter>
#include <QStyle>
#include <algorithm>

#include "disk/FileReadSeekRaid.h"
#include "raw/myJpg.h"
#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/RawSettingDlg.h"

namespace quenlow::ui {

using recovery::FindRef;
using recovery::TreeChange;

namespace {

int clampInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 0, INT32_MAX)); }

}  // namespace

RawRecoveryDialog::RawRecoveryDialog(CMadrelApp& app, const volumes::VolumeRecord& volume)
    : WizardPage(app, "RawRecoveryDialog"),
      volume_(volume),
      defaultPath_(recovery::defaultSettingsPath()),
      feedback_(this) {
    auto* volumeLabel = new QLabel(
        tr("Raw recovery of the volume at sector %1, %2 MB").arg(volume.startSector).arg(qs(volume.volumeSizeText).trimmed()),
        this);
    volumeLabel->setObjectName("volume");
    body()->addWidget(volumeLabel);

    auto* settings = new QHBoxLayout;
    path_ = new QLineEdit(qs(defaultPath_), this);
    path_->setObjectName("settingsPath");
    pick_ = button(QStringLiteral("..."), tr("Choose a settings file"), "pickSettings");
    parse_ = button(tr("Parse"), tr("Parse"), "parse");
    loadDefault_ = new QCheckBox(tr("Load Default Items"), this);
    loadDefault_->setObjectName("loadDefault");
    loadDefault_->setChecked(true);
    setting_ = button(tr("Setting"), tr("Setting"), "setting");
    settings->addWidget(path_, 1);
    settings->addWidget(pick_);
    settings->addWidget(parse_);
    settings->addWidget(loadDefault_);
    settings->addWidget(setting_);
    body()->addLayout(settings);

    auto* split = new QSplitter(this);
    tree_ = new CXHtmlTree(split);
    tree_->setObjectName("finds");
    list_ = new QTableWidget(0, 1, split);
    list_->setObjectName("filesList");
    list_->setHorizontalHeaderLabels({tr("FILES LIST ")});
    list_->setColumnWidth(0, 300);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    split->addWidget(tree_);
    split->addWidget(list_);
    body()->addWidget(split, 1);

    auto* run = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setObjectName("progress");
    pause_ = button(tr("Pause"), tr("Pause"), "pause");
    resume_ = button(tr("Resume"), tr("Resume"), "resume");
    stop_ = button(tr("Stop"), tr("Stop"), "stop");
    run->addWidget(progress_, 1);
    run->addWidget(pause_);
    run->addWidget(resume_);
    run->addWidget(stop_);
    body()->addLayout(run);
    status_ = new QLabel(this);
    status_->setObjectName("status");
    body()->addWidget(status_);

    // The folder the finds go to: shown and chosen here, never implied.
    auto* save = new QHBoxLayout;
    destination_ = new QLineEdit(this);
    destination_->setObjectName("destination");
    destination_->setPlaceholderText(tr("The folder the checked files are saved into"));
    browse_ = button(tr("Browse"), tr("Choose the folder to save into"), "browse");
    save->addWidget(new QLabel(tr("Save into :"), this));
    save->addWidget(destination_, 1);
    save->addWidget(browse_);
    body()->addLayout(save);

    nextButton()->setText(tr("Save"));
    nextButton()->setToolTip(tr("Save"));
    nextButton()->setObjectName("save");

    feedback_.onStatus = [this](const std::string& t) { status_->setText(qs(t)); };
    feedback_.onRange = [this](int64_t low, int64_t high) { progress_->setRange(clampInt(low), clampInt(high)); };
    feedback_.onPosition = [this](int64_t p) { progress_->setValue(clampInt(p)); };
    feedback_.onMessage = [this](const std::string& t) { showMessage(this, qs(t)); };

    connect(pick_, &QPushButton::clicked, this, [this] {
        const QString chosen = chooseFile(this, tr("Settings file"));
        if (!chosen.isEmpty()) path_->setText(chosen);
    });
    connect(setting_, &QPushButton::clicked, this, [this] {
        RawSettingDlg dialog(this);
        dialog.exec();
        // The file just written is the one to parse next.
        if (dialog.recordsSaved() > 0) path_->setText(dialog.settingsFile());
    });
    connect(parse_, &QPushButton::clicked, this, [this] { parse(); });
    connect(pause_, &QPushButton::clicked, this, [this] {
        control_.pause();
        feedback_.status(recovery::kPauseText);
    });
    connect(resume_, &QPushButton::clicked, this, [this] {
        control_.resume();
        feedback_.status(recovery::kResumeText);
    });
    connect(stop_, &QPushButton::clicked, this, [this] {
        control_.requestStop();
        feedback_.status(recovery::kStopText);
    });
    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString chosen = chooseFolder(this, qs(recovery::kChooseFolderText));
        if (!chosen.isEmpty()) destination_->setText(chosen);
    });
    connect(tree_, &CXHtmlTree::labelClicked, this, [this](QTreeWidgetItem* item) { showChildren(item); });

    for (QWidget* w : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(pause_),
                       static_cast<QWidget*>(resume_), static_cast<QWidget*>(stop_)})
        w->hide();
}

RawRecoveryDialog::~RawRecoveryDialog() { closing(); }

void RawRecoveryDialog::closing() {
    feedback_.mute();
    control_.requestStop();
    worker_.join();
}

bool RawRecoveryDialog::leaving() {
    if (worker_.running()) {
        control_.requestStop();
        worker_.finishServing();
    }
    return true;
}

void RawRecoveryDialog::setRunning(bool running) {
    busy_ = running;
    for (QWidget* w : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(pause_),
                       static_cast<QWidget*>(resume_), static_cast<QWidget*>(stop_)})
        w->setVisible(running);
    for (QWidget* w : {static_cast<QWidget*>(parse_), static_cast<QWidget*>(backButton()),
                       static_cast<QWidget*>(pick_), static_cast<QWidget*>(path_), static_cast<QWidget*>(setting_),
                       static_cast<QWidget*>(browse_), static_cast<QWidget*>(destination_)})
        w->setEnabled(!running);
    if (running) {
        // A run starts unpaused and unstopped, whatever the last one was left with.
        control_.clearStop();
        while (control_.resume()) {
        }
        progress_->setValue(0);
    }
}

void RawRecoveryDialog::parse() {
    if (busy_) return;
    disk::FileReadSeekRaid* raid = app_.context().raidDisk.get();
    if (raid == nullptr) {
        showMessage(this, QStringLiteral("information lost ..go back and parse again"));
        return;
    }
    setRunning(true);
    recovery::RawRecovery::ParseOptions options;
    options.loadDefault = loadDefault_->isChecked();
    options.defaultPath = defaultPath_;
    options.userPath = path_->text().trimmed().toStdString();
    recovery::RawRuns::Run& run = runs_.add();
    const size_t index = runs_.size() - 1;
    // The engine fills the run's own tree on the worker; each change is replayed on the
    // page's tree on the UI thread while the worker waits.
    run.tree.onChange = [this, index](const TreeChange& change) {
        feedback_.call([this, index, &change] { apply(index, change); });
    };
    worker_.start(
        this,
        [this, raid, &run, options] {
            recovery::RawRuns::parse(run, options, *raid, volume_, feedback_, control_);
        },
        [this, index] { parseEnded(index); });
}

void RawRecoveryDialog::parseEnded(size_t run) {
    setRunning(false);
    feedback_.status("Processing done");
    if (runs_[run].settingsRefused) path_->clear();
    for (const auto& [key, item] : items_)
        if (key.first == run && item->parent() == nullptr) item->setExpanded(true);
}

void RawRecoveryDialog::apply(size_t run, const TreeChange& change) {
    auto found = items_.find({run, change.item});
    QTreeWidgetItem* item = found == items_.end() ? nullptr : found->second;
    switch (change.kind) {
        case TreeChange::Kind::Insert: {
            auto parent = items_.find({run, change.parent});
            const QString text = qs(change.text);
            QTreeWidgetItem* added = tree_->insertItem(text, parent == items_.end() ? nullptr : parent->second);
            if (added == nullptr) return;
            items_[{run, change.item}] = added;
            if (change.folder) {
                folders_.insert(added, true);
                added->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
            } else {
                added->setIcon(0, iconFor(text));
                // The engine's item data is the find's index + 1.
                if (change.data > 0) finds_.insert(added, FindRef{run, static_cast<size_t>(change.data - 1)});
            }
            return;
        }
        case TreeChange::Kind::SetText:
            if (item != nullptr) item->setText(0, qs(change.text));
            return;
        case TreeChange::Kind::Red:
            if (item != nullptr) tree_->setItemTextColour(item, Qt::red);
            return;
        case TreeChange::Kind::Expand:
            if (item != nullptr) item->setExpanded(true);
            return;
        case TreeChange::Kind::Delete:
            if (item != nullptr) {
                forget(item);
                tree_->deleteItem(item);
            }
            return;
        case TreeChange::Kind::Clear: {
            std::vector<QTreeWidgetItem*> tops;
            for (const auto& [key, i] : items_)
                if (key.first == run && i->parent() == nullptr) tops.push_back(i);
            for (QTreeWidgetItem* top : tops) {
                forget(top);
                tree_->deleteItem(top);
            }
            return;
        }
    }
}

void RawRecoveryDialog::forget(QTreeWidgetItem* item) {
    std::vector<QTreeWidgetItem*> pending{item};
    QSet<QTreeWidgetItem*> gone;
    while (!pending.empty()) {
        QTreeWidgetItem* i = pending.back();
        pending.pop_back();
        gone.insert(i);
        finds_.remove(i);
        folders_.remove(i);
        for (int c = 0; c < i->childCount(); ++c) pending.push_back(i->child(c));
    }
    std::erase_if(items_, [&](const auto& entry) { return gone.contains(entry.second); });
    for (int r = list_->rowCount() - 1; r >= 0; --r)
        if (gone.contains(reinterpret_cast<QTreeWidgetItem*>(list_->item(r, 0)->data(Qt::UserRole).value<quintptr>())))
            list_->removeRow(r);
}

void RawRecoveryDialog::showChildren(QTreeWidgetItem* item) {
    list_->setRowCount(0);
    for (int c = 0; c < item->childCount(); ++c) {
        QTreeWidgetItem* child = item->child(c);
        if (folders_.contains(child)) continue;
        auto* row = new QTableWidgetItem(child->text(0));
        row->setIcon(child->icon(0));
        row->setData(Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(child)));
        const int at = list_->rowCount();
        list_->insertRow(at);
        list_->setItem(at, 0, row);
    }
}

QIcon RawRecoveryDialog::iconFor(const QString& name) {
    const QString extension = QFileInfo(name).suffix().toLower();
    auto cached = icons_.find(extension);
    if (cached != icons_.end()) return *cached;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
    const QIcon icon = QIcon::fromTheme(type.iconName(), style()->standardIcon(QStyle::SP_FileIcon));
    icons_.insert(extension, icon);
    return icon;
}

std::vector<FindRef> RawRecoveryDialog::checkedFinds() const {
    std::vector<FindRef> checked;
    for (auto it = finds_.begin(); it != finds_.end(); ++it)
        if (tree_->getCheck(it.key()) == 1) checked.push_back(it.value());
    std::sort(checked.begin(), checked.end(),
              [](const FindRef& a, const FindRef& b) { return std::tie(a.run, a.find) < std::tie(b.run, b.find); });
    return checked;
}

void RawRecoveryDialog::onNext() {
    const std::vector<FindRef> which = checkedFinds();
    const std::string refusal = recovery::rawSaveRefusal(busy_, which.size());
    if (!refusal.empty()) {
        showMessage(this, qs(refusal));
        return;
    }
    QString destination = destination_->text().trimmed();
    if (destination.isEmpty()) destination = chooseFolder(this, qs(recovery::kChooseFolderText));
    if (destination.isEmpty()) {
        feedback_.status("No folder was chosen: nothing was saved");
        return;
    }
    destination_->setText(destination);
    setRunning(true);
    report_ = {};
    worker_.start(
        this,
        [this, which, target = destination.toStdString()] { report_ = runs_.save(which, target, feedback_, control_); },
        [this, destination] { saveEnded(destination); });
}

void RawRecoveryDialog::saveEnded(const QString& destination) {
    setRunning(false);
    feedback_.status("Saving done");
    showMessage(this, qs(report_.text(destination.toStdString())),
                report_.complete() ? QMessageBox::Information : QMessageBox::Warning);
}

}  // namespace quenlow::ui
