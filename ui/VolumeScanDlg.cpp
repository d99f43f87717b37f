#include "ui/VolumeScanDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <algorithm>

#include "disk/FileReadSeekRaid.h"
#include "recovery/AdvancedInput.h"
#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/advanceOptions.h"

namespace quenlow::ui {

using recovery::BrowseState;

namespace {

constexpr const char* kSearchHint = "* Use \"|\" to find multiple file type ";

int clampInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 0, INT32_MAX)); }

// The greyed tree's background: each component of the window colour 10 lower (one below
// 10 stays).
int dimmed(int component) { return component < 10 ? component : component - 10; }

void copyList(QComboBox* to, const QComboBox* from) {
    if (from == nullptr) return;
    for (int i = 0; i < from->count(); ++i) to->addItem(from->itemText(i));
    to->setCurrentIndex(from->currentIndex());
}

}  // namespace

VolumeScanDlg::VolumeScanDlg(CMadrelApp& app, ParceModeNtfsDlg& modes, advanceOptions* advanced)
    : WizardPage(app, "VolumeScanDlg"), advanced_(advanced), feedback_(this) {
    if (advanced_ != nullptr) {
        tree_ = &advanced_->tree();
    } else {
        ownTree_ = std::make_unique<FolderTreeAdapter>();
        tree_ = ownTree_.get();
    }
    buildControls();
    tree_->attach(treeView_);
    startParse(modes);
}

void VolumeScanDlg::buildControls() {
    nextButton()->hide();
    auto* title = new QLabel(tr("VOLUME-SCAN"), this);
    title->setObjectName("title");
    body()->addWidget(title);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Volume Data:"), this));
    volumeData_ = new QLineEdit(this);
    volumeData_->setObjectName("volumeData");
    volumeData_->setReadOnly(true);
    top->addWidget(volumeData_, 1);
    pattern_ = new QLineEdit(this);
    pattern_->setObjectName("searchPattern");
    top->addWidget(pattern_, 1);
    search_ = button(tr("Search"), tr("Search"), "search");
    top->addWidget(search_);
    auto* hint = new QLabel(kSearchHint, this);
    hint->setObjectName("searchHint");
    top->addWidget(hint);
    body()->addLayout(top);

    auto* split = new QSplitter(this);
    treeView_ = new CXHtmlTree(split);
    treeView_->setObjectName("tree");
    list_ = new CCheckListCtrl(split);
    list_->setObjectName("fileList");
    list_->setColumnCount(6);
    list_->setHeaderLabels({tr("File(s) List"), tr("Creation Time"), tr("Access Time"), tr("Modification Time"),
                            tr("Size"), tr("Attribute")});
    const int widths[] = {80, 90, 90, 90, 80, 70};
    for (int c = 0; c < 6; ++c) list_->setColumnWidth(c, widths[c] * 2);
    list_->setAllColumnsShowFocus(true);
    split->setStretchFactor(1, 2);
    body()->addWidget(split, 1);
    treePalette_ = treeView_->palette();

    auto* run = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setObjectName("progress");
    run->addWidget(progress_, 1);
    pause_ = button(tr("Pause"), tr("Pause"), "pause");
    resume_ = button(tr("Resume"), tr("Resume"), "resume");
    stop_ = button(tr("Stop"), tr("Stop"), "stop");
    for (QPushButton* b : {pause_, resume_, stop_}) run->addWidget(b);
    body()->addLayout(run);
    status_ = new QLabel(this);
    status_->setObjectName("status");
    detail_ = new QLabel(this);
    detail_->setObjectName("detail");
    body()->addWidget(status_);
    body()->addWidget(detail_);

    auto* out = new QHBoxLayout;
    out->addWidget(new QLabel(tr("Output folder:"), this));
    output_ = new QLineEdit(this);
    output_->setObjectName("outputFolder");
    out->addWidget(output_, 1);
    chooseFolder_ = new QToolButton(this);
    chooseFolder_->setObjectName("chooseFolder");
    chooseFolder_->setText(QStringLiteral("..."));
    chooseFolder_->setToolTip(tr("Choose the output folder"));
    out->addWidget(chooseFolder_);
    save_ = button(tr("Save"), tr("Save the selected folder's files"), "save");
    out->addWidget(save_);
    body()->addLayout(out);

    // Advanced mode's choices, kept as the advanced input page made them; never shown.
    auto* hidden = new QFormLayout;
    advEntries_ = new QComboBox(this);
    advEntries_->setObjectName("advancedEntries");
    advSectors_ = new QComboBox(this);
    advSectors_->setObjectName("advancedSectorsPerCluster");
    advHeaps_ = new QComboBox(this);
    advHeaps_->setObjectName("advancedHeaps");
    auto* inputLabel = new QLabel(tr("ADVANCED INPUT :"), this);
    auto* entryLabel = new QLabel(tr("TFS :"), this);
    auto* sectorLabel = new QLabel(tr("Sector Per Cluster :"), this);
    auto* heapLabel = new QLabel(tr("Heap Offset :"), this);
    hidden->addRow(inputLabel);
    hidden->addRow(entryLabel, advEntries_);
    hidden->addRow(sectorLabel, advSectors_);
    hidden->addRow(heapLabel, advHeaps_);
    body()->addLayout(hidden);
    advancedWidgets_ = {advEntries_, advSectors_, advHeaps_, inputLabel, entryLabel, sectorLabel, heapLabel};
    for (QWidget* w : advancedWidgets_) w->hide();

    feedback_.onStatus = [this](const std::string& t) { status_->setText(qs(t)); };
    feedback_.onDetail = [this](const std::string& t) { detail_->setText(qs(t)); };
    feedback_.onRange = [this](int64_t low, int64_t high) { progress_->setRange(clampInt(low), clampInt(high)); };
    feedback_.onPosition = [this](int64_t p) { progress_->setValue(std::min(clampInt(p), progress_->maximum())); };
    feedback_.onMessage = [this](const std::string& t) { showMessage(this, qs(t)); };
    feedback_.onAsk = [this](const std::string& q) { return askYesNo(this, qs(q)); };

    connect(treeView_, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { browse(item, [this](fs::TreeItem i) { view_->expanding(i); }); });
    connect(treeView_, &CXHtmlTree::labelClicked, this,
            [this](QTreeWidgetItem* item) { browse(item, [this](fs::TreeItem i) { view_->labelClick(i); }); });
    connect(treeView_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) { doubleClicked(item); });
    connect(list_, &CCheckListCtrl::rowCheckClicked, this, [this](int row, bool was) { listCheckClicked(row, was); });
    connect(search_, &QPushButton::clicked, this, [this] { startSearch(); });
    connect(save_, &QPushButton::clicked, this, [this] { startSave(); });
    connect(chooseFolder_, &QToolButton::clicked, this, [this] {
        const QString folder = chooseFolder(this, tr("Choose the output folder"));
        if (!folder.isEmpty()) output_->setText(folder);
    });
    // Pauses are counted and honoured where the worker polls for Stop, so a paused worker
    // holds nothing the page waits for.
    connect(pause_, &QPushButton::clicked, this, [this] {
        if (!session_ || !worker_.running()) return;
        session_->control().pause();
        status_->setText(recovery::kPausePressedText);
    });
    connect(resume_, &QPushButton::clicked, this, [this] {
        if (!session_ || !worker_.running()) return;
        session_->control().resume();
        status_->setText(recovery::kResumePressedText);
    });
    connect(stop_, &QPushButton::clicked, this, [this] {
        if (!session_) return;
        session_->control().requestStop();
        status_->setText(recovery::kStopPressedText);
    });
}

void VolumeScanDlg::startParse(ParceModeNtfsDlg& modes) {
    const volumes::VolumeRecord& volume = modes.volume();
    volumeData_->setText(qs(volume.volumeNumber));
    disk::FileReadSeekRaid* raid = app_.context().raidDisk.get();
    if (advanced_ != nullptr) {
        copyList(advEntries_, advanced_->findChild<QComboBox*>("entries"));
        copyList(advSectors_, advanced_->findChild<QComboBox*>("sectorsPerCluster"));
        copyList(advHeaps_, advanced_->findChild<QComboBox*>("heaps"));
        session_ = advanced_->session();
        if (session_ != nullptr) session_->setFeedback(feedback_);
    } else if (raid != nullptr) {
        recovery::VolumeSession::Options options;
        options.mode = modes.choice().mode();
        options.rootLabel = app_.context().rootLabel;
        options.context = &app_.context();
        std::string error;
        ownSession_ = recovery::VolumeSession::open(*raid, volume, *tree_, feedback_, options, error);
        session_ = ownSession_.get();
    }
    if (session_ == nullptr) {
        // No virtual disk: the program has to begin again; otherwise the volume is not one
        // this program reads (the session said so) and Back leads to another choice.
        if (raid == nullptr) showMessage(this, qs(recovery::kRestartText));
        state_.failedToStart(raid == nullptr);
        applyState();
        return;
    }
    view_ = std::make_unique<recovery::FolderView>(session_->parser(), *tree_);
    view_->setExpandingClearsList(session_->info().expandingClearsList);
    inheritChecks_ = session_->info().name == "NTFS";
    // A stop pressed during the advanced input page's candidate search is not this parse's.
    session_->control().clearStop();
    releasePauses();
    state_.start(BrowseState::Work::Parse);
    applyState();
    showRunControls(true);
    recovery::VolumeSession* session = session_;
    worker_.start(
        this, [this, session] { parseOutcome_ = session->parse(); }, [this] { parseEnded(); });
}

VolumeScanDlg::~VolumeScanDlg() {
    closing();
    // A page that went Back is deleted later: a new page may have taken the borrowed session
    // and tree over by then, and keeps them.
    if (advanced_ != nullptr && session_ != nullptr && &session_->feedback() == &feedback_)
        session_->setFeedback(advanced_->feedback());
    if (tree_->view() == treeView_) tree_->attach(nullptr);
}

void VolumeScanDlg::closing() {
    if (worker_.running()) {
        if (session_) session_->control().requestStop();
        status_->setText(recovery::kAllStoppedText);
    }
    feedback_.mute();
    worker_.join();
}

bool VolumeScanDlg::leaving() {
    // Back is held while work runs; a press that comes anyway waits for nothing: the page
    // stays until its worker has ended.
    return !worker_.running() && state_.backEnabled();
}

void VolumeScanDlg::releasePauses() {
    // Pauses pressed for an earlier worker are not this one's.
    if (session_)
        while (session_->control().resume()) {
        }
}

void VolumeScanDlg::parseEnded() {
    tree_->flush();
    state_.finish();
    // A parse that stopped at its boot-sector check leaves the bar and its buttons shown.
    if (parseOutcome_.complete || parseOutcome_.status.ok() || session_->info().name == "HFS+") showRunControls(false);
    applyState();
}

void VolumeScanDlg::applyState() {
    const BrowseState::Work work = state_.work();
    backButton()->setEnabled(state_.backEnabled());
    if (work != BrowseState::Work::Search) treeView_->setEnabled(state_.browsable());
    search_->setEnabled(state_.browsable());
    // Save stays pressable during the parse: it says what the page waits for.
    save_->setEnabled(work != BrowseState::Work::Search && work != BrowseState::Work::Save);
    output_->setEnabled(work != BrowseState::Work::Save);
    chooseFolder_->setEnabled(work != BrowseState::Work::Save);
}

void VolumeScanDlg::showRunControls(bool shown) {
    for (QWidget* w : std::initializer_list<QWidget*>{progress_, pause_, resume_, stop_}) w->setVisible(shown);
}

void VolumeScanDlg::greyTree(bool grey) {
    if (!grey) {
        treeView_->setPalette(treePalette_);
        treeView_->setEnabled(state_.browsable());
        return;
    }
    QPalette p = treePalette_;
    const QColor window = p.color(QPalette::Active, QPalette::Base);
    const QColor background(dimmed(window.red()), dimmed(window.green()), dimmed(window.blue()));
    const QColor text = p.color(QPalette::Disabled, QPalette::Text);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Base, background);
        p.setColor(g, QPalette::Text, text);
    }
    treeView_->setPalette(p);
    treeView_->setEnabled(false);
}

void VolumeScanDlg::browse(QTreeWidgetItem* item, const std::function<void(fs::TreeItem)>& step) {
    if (!state_.browsable() || !view_ || item == nullptr) return;
    const fs::TreeItem id = tree_->itemOf(item);
    if (id == fs::kNoItem) return;
    const bool checked = treeView_->getCheck(item) == 1;
    const fs::TreeItem firstBefore = tree_->firstChild(id);
    step(id);
    tree_->flush();
    // Children shown now take the check of their folder.
    if (inheritChecks_ && checked && tree_->firstChild(id) != firstBefore) treeView_->setCheck(item, true);
    drawRows();
}

void VolumeScanDlg::doubleClicked(QTreeWidgetItem* item) {
    if (!state_.browsable() || !view_ || item == nullptr) return;
    const fs::TreeItem id = tree_->itemOf(item);
    const fs::EntryRef entry = tree_->data(id);
    if (entry == fs::kNoEntry) return;
    fs::VolumeParser& parser = session_->parser();
    if (parser.isFolder(entry)) {
        browse(item, [this](fs::TreeItem i) { view_->doubleClick(i, {}, silentFeedback(), session_->control()); });
        return;
    }
    if (!parser.isFile(entry)) return;
    const std::string out = output_->text().toStdString();
    const std::string name = parser.name(entry);
    runSave([this, entry, out] { return output::FolderSaver(session_->parser(), feedback_, session_->control()).saveFile(entry, out); },
            [this, out, name](const output::SaveReport& report) {
                const std::string text = recovery::singleFileText(report, out, name);
                if (text.empty()) return;
                status_->setText(qs(text));
                // NTFS and FAT tell a clean save on the status line only; a file that could
                // not be saved, or only in part, is told on every file system.
                const std::string& fs = session_->info().name;
                const bool quiet = fs == "NTFS" || fs == "FAT32" || fs == "FAT16";
                if (!quiet || report.written == 0 || !report.failures.empty() || !report.damaged.empty())
                    showMessage(this, qs(text));
            });
}

void VolumeScanDlg::drawRows() {
    if (view_->rowsRevision() == drawnRevision_) return;
    drawnRevision_ = view_->rowsRevision();
    list_->removeAllRows();
    for (const recovery::ListRow& row : view_->rows()) {
        QTreeWidgetItem* r = list_->addRow({qs(row.name), qs(row.texts.created), qs(row.texts.accessed),
                                            qs(row.texts.modified), qs(row.size), qs(row.texts.attributes)});
        r->setData(0, Qt::UserRole, QVariant::fromValue<qint64>(row.item));
    }
}

void VolumeScanDlg::listCheckClicked(int row, bool wasChecked) {
    QTreeWidgetItem* r = list_->topLevelItem(row);
    if (r == nullptr || !view_) return;
    const fs::TreeItem item = r->data(0, Qt::UserRole).isValid() ? r->data(0, Qt::UserRole).toLongLong() : fs::kNoItem;
    const auto mirror = recovery::mirrorListCheck(view_->searchResultsShown(), item, wasChecked);
    if (!mirror) return;
    if (QTreeWidgetItem* w = tree_->widgetItem(mirror->item)) treeView_->setCheck(w, mirror->checked);
}

void VolumeScanDlg::startSearch() {
    if (!state_.browsable() || !session_) return;
    list_->removeAllRows();
    view_->setSearchResultsShown(true);
    drawnRevision_ = view_->rowsRevision();  // the list now shows search results
    const std::string pattern = pattern_->text().toStdString();
    const std::string rootLabel = tree_->text(tree_->root());
    // A stop pressed during earlier work must not cut this search short.
    session_->control().clearStop();
    releasePauses();
    state_.start(BrowseState::Work::Search);
    greyTree(true);
    applyState();
    showRunControls(true);
    recovery::VolumeSession* session = session_;
    worker_.start(
        this,
        [this, session, pattern, rootLabel] {
            session->search(pattern, feedback_, [this, &rootLabel](const recovery::SearchRow& row) {
                feedback_.call([&] {
                    list_->addRow({qs(row.shownPath(rootLabel)), qs(row.texts.created), qs(row.texts.accessed),
                                   qs(row.texts.modified), qs(row.sizeText), qs(row.texts.attributes)});
                });
            });
        },
        [this] {
            state_.finish();
            greyTree(false);
            showRunControls(false);
            applyState();
        });
}

void VolumeScanDlg::startSave() {
    if (const std::string refusal = state_.saveRefusal(); !refusal.empty()) {
        showMessage(this, qs(refusal));
        return;
    }
    const std::string out = output_->text().toStdString();
    if (output::FolderSaver::cleanOutputFolder(out).empty()) {
        showMessage(this, QStringLiteral("select output folder"));
        return;
    }
    // The selected item decides what is saved (the check boxes play no part).
    const fs::EntryRef folder = tree_->data(tree_->itemOf(treeView_->currentItem()));
    if (folder == fs::kNoEntry || !session_->parser().qualifiesAsSaveFolder(folder)) return;
    runSave([this, folder, out] { return output::FolderSaver(session_->parser(), feedback_, session_->control()).saveFolder(folder, out); },
            [this, out](const output::SaveReport& report) {
                if (report.outcome != output::SaveReport::Outcome::Saved) return;
                status_->setText(qs(recovery::saveSummaryLine(report)));
                showReport(this, tr("Save summary"), qs(recovery::saveSummaryText(report, out)));
            });
}

void VolumeScanDlg::runSave(const std::function<output::SaveReport()>& save,
                            const std::function<void(const output::SaveReport&)>& after) {
    releasePauses();
    state_.start(BrowseState::Work::Save);
    applyState();
    treeView_->setEnabled(false);
    showRunControls(true);
    worker_.start(
        this, [this, save] { lastSave_ = save(); },
        [this, after] {
            state_.finish();
            detail_->clear();
            showRunControls(false);
            applyState();
            after(lastSave_);
        });
}

}  // namespace quenlow::ui
