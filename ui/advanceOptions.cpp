#include "ui/advanceOptions.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <algorithm>

#include "disk/FileReadSeekRaid.h"
#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/VolumeScanDlg.h"

namespace quenlow::ui {

using recovery::AdvancedInput;

advanceOptions::advanceOptions(CMadrelApp& app, ParceModeNtfsDlg& parent)
    : WizardPage(app, "advanceOptions"), parent_(parent), input_(parent.volume().fileSystem), feedback_(this) {
    auto* group = new QGroupBox(tr("Advanced Input:"), this);
    auto* form = new QFormLayout(group);
    entryLabel_ = new QLabel(qs(input_.lists().entryLabel.empty() ? std::string("TFS :") : input_.lists().entryLabel), group);
    entries_ = new QComboBox(group);
    entries_->setObjectName("entries");
    sectorsLabel_ = new QLabel(tr("Sector Per Cluster :"), group);
    sectors_ = new QComboBox(group);
    sectors_->setObjectName("sectorsPerCluster");
    heapLabel_ = new QLabel(tr("Heap Offset :"), group);
    heaps_ = new QComboBox(group);
    heaps_->setObjectName("heaps");
    form->addRow(entryLabel_, entries_);
    form->addRow(sectorsLabel_, sectors_);
    form->addRow(heapLabel_, heaps_);
    body()->addWidget(group);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("progress");
    auto* run = new QHBoxLayout;
    pause_ = button(tr("Pause"), tr("Pause"), "pause");
    resume_ = button(tr("Resume"), tr("Resume"), "resume");
    stop_ = button(tr("Stop"), tr("Stop"), "stop");
    run->addWidget(progress_, 1);
    for (QPushButton* b : {pause_, resume_, stop_}) run->addWidget(b);
    body()->addLayout(run);
    status_ = new QLabel(this);
    status_->setObjectName("status");
    body()->addWidget(status_);
    body()->addStretch(1);

    feedback_.onStatus = [this](const std::string& t) { status_->setText(qs(t)); };
    feedback_.onRange = [this](int64_t low, int64_t high) {
        progress_->setRange(static_cast<int>(std::clamp<int64_t>(low, 0, INT32_MAX)),
                            static_cast<int>(std::clamp<int64_t>(high, 0, INT32_MAX)));
    };
    feedback_.onPosition = [this](int64_t p) { progress_->setValue(static_cast<int>(std::clamp<int64_t>(p, 0, INT32_MAX))); };
    feedback_.onMessage = [this](const std::string& t) { showMessage(this, qs(t)); };

    // Pauses are counted and honoured where the search polls for Stop, so a paused search
    // never holds the disk or a hand-off the page waits for.
    connect(pause_, &QPushButton::clicked, this, [this] {
        if (session_) session_->control().pause();
        status_->setText(QStringLiteral("Pause button pressed"));
    });
    connect(resume_, &QPushButton::clicked, this, [this] {
        if (session_) session_->control().resume();
        status_->setText(QStringLiteral("Resume button pressed"));
    });
    connect(stop_, &QPushButton::clicked, this, [this] {
        if (!session_) return;
        session_->control().requestStop();
        status_->setText(QStringLiteral("stop button pressed"));
        backButton()->setEnabled(true);
        nextButton()->setEnabled(true);
    });

    nextButton()->setEnabled(false);
    backButton()->setEnabled(false);
    sectorsLabel_->hide();
    sectors_->hide();
    heapLabel_->hide();
    heaps_->hide();
    const int64_t maximum = AdvancedInput::maximumFrom(parent.maximumText().toStdString());

    disk::FileReadSeekRaid* raid = app.context().raidDisk.get();
    if (input_.kind() != AdvancedInput::Kind::None) {
        if (raid == nullptr) {
            showMessage(this, qs(recovery::kRestartText));
        } else {
            if (std::string opening = input_.openingStatus(); !opening.empty()) status_->setText(qs(opening));
            recovery::VolumeSession::Options options;
            options.mode = fs::Mode::Advanced;
            options.rootLabel = app.context().rootLabel;
            options.context = &app.context();
            std::string error;
            session_ = recovery::VolumeSession::open(*raid, parent.volume(), tree_, feedback_, options, error);
        }
    }
    if (!session_) {
        // Nothing to search: Back and Next (which then says no entry was found) stay usable.
        progress_->hide();
        for (QPushButton* b : {pause_, resume_, stop_}) b->hide();
        nextButton()->setEnabled(true);
        backButton()->setEnabled(true);
        return;
    }
    const bool exfat = input_.kind() == AdvancedInput::Kind::ExFat;
    sectorsLabel_->setVisible(true);
    sectors_->setVisible(true);
    heapLabel_->setVisible(exfat);
    heaps_->setVisible(exfat);
    recovery::VolumeSession* session = session_.get();
    worker_.start(
        this, [this, session, maximum] { input_.run(session->parser(), session->control(), feedback_, maximum); },
        [this] { searchEnded(); });
}

advanceOptions::~advanceOptions() { closing(); }

void advanceOptions::closing() {
    if (session_) {
        input_.abort(session_->control());
        if (worker_.running()) status_->setText(QStringLiteral("All thread Stopped"));
    }
    feedback_.mute();
    worker_.join();
}

void advanceOptions::fill(QComboBox* box, const std::vector<AdvancedInput::Item>& items) {
    box->clear();
    for (const auto& item : items) box->addItem(qs(item.text));
    box->setCurrentIndex(items.empty() ? -1 : 0);
}

void advanceOptions::searchEnded() {
    const AdvancedInput::Lists& lists = input_.lists();
    if (!lists.entryLabel.empty()) entryLabel_->setText(qs(lists.entryLabel));
    fill(entries_, lists.entries);
    fill(sectors_, lists.sectorsPerCluster);
    fill(heaps_, lists.heaps);
    nextButton()->setEnabled(true);
    backButton()->setEnabled(true);
    progress_->hide();
    for (QPushButton* b : {pause_, resume_, stop_}) b->hide();
}

bool advanceOptions::leaving() {
    if (session_ && worker_.running()) {
        // The search ends at its next poll (a pause ends with it); its hand-offs are served
        // meanwhile, then the page goes.
        input_.abort(session_->control());
        backButton()->setEnabled(false);
        nextButton()->setEnabled(false);
        feedback_.mute();
        worker_.finishServing();
    }
    return true;
}

void advanceOptions::onNext() {
    if (entries_->currentIndex() < 0) {
        showMessage(this, qs(recovery::kNoEntrySelectedText));
        return;
    }
    if (sectors_->currentIndex() < 0 || !session_) return;
    std::optional<size_t> heap;
    if (input_.kind() == AdvancedInput::Kind::ExFat && heaps_->currentIndex() >= 0) heap = static_cast<size_t>(heaps_->currentIndex());
    std::string error;
    fs::CandidateChoice choice;
    if (!input_.choose(static_cast<size_t>(entries_->currentIndex()), static_cast<size_t>(sectors_->currentIndex()), heap,
                       choice, error) ||
        !session_->parser().chooseCandidate(choice, error)) {
        showMessage(this, qs(error));
        return;
    }
    chosen_ = choice;
    app_.forward(this, new VolumeScanDlg(app_, parent_, this));
}

}  // namespace quenlow::ui
