#include "ui/PopulateDriveDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QToolButton>
#include <algorithm>

#include "disk/FileReadSeekRaid.h"
#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/RawRecoveryDialog.h"
#include "volumes/Partition.h"

namespace quenlow::ui {

using recovery::VolumeChoice;

namespace {

constexpr const char* kSelectVolumeStatus = "Select volume and click next button...";

int clampInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 0, INT32_MAX)); }

// An edit with up and down arrows: +1, and -1 but not below 0.
QHBoxLayout* spinEdit(QWidget* parent, QLineEdit* edit, QList<QWidget*>& group) {
    auto* row = new QHBoxLayout;
    row->addWidget(edit);
    group << edit;
    for (int step : {1, -1}) {
        auto* arrow = new QToolButton(parent);
        arrow->setArrowType(step > 0 ? Qt::UpArrow : Qt::DownArrow);
        arrow->setObjectName(edit->objectName() + (step > 0 ? "Up" : "Down"));
        QObject::connect(arrow, &QToolButton::clicked, edit, [edit, step] {
            const int64_t v = VolumeChoice::leadingNumber(edit->text().toStdString());
            edit->setText(QString::number(std::max<int64_t>(0, v + step)));
        });
        row->addWidget(arrow);
        group << arrow;
    }
    return row;
}

}  // namespace

PopulateDriveDlg::PopulateDriveDlg(CMadrelApp& app, const recovery::ScanSettings& settings)
    : WizardPage(app, "PopulateDriveDlg"),
      settings_(settings),
      choice_(settings.mode == 2 ? VolumeChoice::ScanMode::Advanced : VolumeChoice::ScanMode::Standard),
      feedback_(this) {
    list_ = new QTreeWidget(this);
    list_->setObjectName("volumes");
    list_->setHeaderLabels({tr("VOLUME"), tr("FILE_SYSTEM"), tr("VOLUME_SIZE"), tr("START_SECTOR")});
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int c = 0; c < 4; ++c) list_->setColumnWidth(c, c == 3 ? 100 : 80);
    body()->addWidget(list_, 1);

    auto* actions = new QHBoxLayout;
    filter_ = button(tr("Filter Entries"), tr("Filter volume entries."), "filter");
    addCustom_ = button(tr("Add Custom Volume"), tr("Add Custom Volume entry."), "addCustom");
    stop_ = button(tr("Stop"), tr("Stop"), "stop");
    actions->addWidget(filter_);
    actions->addWidget(addCustom_);
    actions->addStretch(1);
    actions->addWidget(stop_);
    body()->addLayout(actions);

    custom_ = new QCheckBox(tr("Custom Settings For Selected Volume "), this);
    custom_->setObjectName("customSettings");
    body()->addWidget(custom_);
    auto* form = new QFormLayout;
    selectedLabel_ = new QLabel(this);
    selectedLabel_->setObjectName("selectedVolume");
    start_ = new QLineEdit(QStringLiteral("0"), this);
    start_->setObjectName("customStart");
    end_ = new QLineEdit(QStringLiteral("0"), this);
    end_->setObjectName("customEnd");
    fileSystem_ = new QComboBox(this);
    fileSystem_->setObjectName("treatAs");
    for (const auto& e : VolumeChoice::fileSystemEntries()) fileSystem_->addItem(qs(e));
    fileSystem_->setCurrentIndex(-1);
    customGroup_ << selectedLabel_ << fileSystem_;
    form->addRow(tr("Selected Volume :"), selectedLabel_);
    form->addRow(tr("Start Sector:"), spinEdit(this, start_, customGroup_));
    form->addRow(tr("End Sector :"), spinEdit(this, end_, customGroup_));
    form->addRow(tr("Treat file system as:"), fileSystem_);
    body()->addLayout(form);

    progress_ = new QProgressBar(this);
    progress_->setObjectName("progress");
    progress_->setRange(0, 1000);
    status_ = new QLabel(this);
    status_->setObjectName("status");
    body()->addWidget(progress_);
    body()->addWidget(status_);

    feedback_.onStatus = [this](const std::string& t) { status_->setText(qs(t)); };
    feedback_.onRange = [this](int64_t low, int64_t high) { progress_->setRange(clampInt(low), clampInt(high)); };
    feedback_.onPosition = [this](int64_t p) { progress_->setValue(clampInt(p)); };
    feedback_.onMessage = [this](const std::string& t) { showMessage(this, qs(t)); };

    custom_->setEnabled(false);
    addCustom_->setEnabled(false);
    setCustomEnabled(false);
    connect(custom_, &QCheckBox::toggled, this, [this](bool on) { setCustomEnabled(on); });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { if (!filling_) showSelection(false); });
    connect(list_, &QTreeWidget::itemClicked, this, [this] { showSelection(true); });
    connect(stop_, &QPushButton::clicked, this, [this] {
        control_.requestStop();
        backButton()->setEnabled(true);
    });
    connect(filter_, &QPushButton::clicked, this, [this] {
        choice_.filter();
        showRows();
    });
    connect(addCustom_, &QPushButton::clicked, this, [this] {
        choice_.addCustomVolume();
        custom_->setEnabled(true);
        custom_->setChecked(true);
        setCustomEnabled(true);
        showRows();
        start_->setText(QStringLiteral("0"));
        end_->setText(QStringLiteral("0"));
        nextButton()->setEnabled(true);
    });

    if (settings_.mode == 2) {
        scanAdvanced();
    } else {
        feedback_.progressRange(0, 1000);
        listStandard();
        feedback_.progressPosition(1000);
    }
}

PopulateDriveDlg::~PopulateDriveDlg() { closing(); }

void PopulateDriveDlg::closing() {
    feedback_.mute();
    control_.requestStop();
    worker_.join();
}

bool PopulateDriveDlg::openDisk() {
    disk::FileReadSeekRaid* raid = app_.context().raidDisk.get();
    if (raid != nullptr && raid->open(settings_.driveLabel)) return true;
    QString text = QStringLiteral("file not opened..");
    if (raid != nullptr && !raid->lastError().empty()) text += "\n" + qs(raid->lastError());
    showMessage(this, text);
    return false;
}

void PopulateDriveDlg::listStandard() {
    addCustom_->hide();
    if (!app_.context().raidDisk) {
        showMessage(this, QStringLiteral("information lost ..go back and parse again"));
        return;
    }
    if (openDisk()) {
        choice_.clear();
        volumes::Partition finder(*app_.context().raidDisk, choice_.volumes(), feedback_, &control_);
        finder.gptFormat = settings_.gptFormat ? 1 : 0;
        finder.listPartitions();
        choice_.showListing();
        showRows();
        custom_->setEnabled(!choice_.rows().empty());
    }
    addCustom_->setEnabled(true);
    filter_->setEnabled(true);
    feedback_.status("Finished Scanning.");
    progress_->hide();
    stop_->hide();
    feedback_.status(kSelectVolumeStatus);
    nextButton()->setEnabled(!choice_.rows().empty());
}

void PopulateDriveDlg::scanAdvanced() {
    addCustom_->setEnabled(false);
    filter_->setEnabled(false);  // the list changes under the scan
    nextButton()->setEnabled(false);
    disk::FileReadSeekRaid* raid = app_.context().raidDisk.get();
    if (raid == nullptr || !openDisk()) {
        nextButton()->setEnabled(true);
        return;
    }
    choice_.clear();
    list_->clear();
    backButton()->setEnabled(false);
    const recovery::ScanSettings s = settings_;
    worker_.start(
        this,
        [this, raid, s] {
            // The finder fills its own list; each record is handed to the page's list on the
            // UI thread, so the two threads never share one.
            std::vector<volumes::VolumeRecord> found;
            volumes::Partition finder(*raid, found, feedback_, &control_);
            finder.skipVolumeSize = s.doNotSkipVolumeSize ? 0 : 1;
            finder.customStartSector = s.customStart;
            finder.customEndSector = s.customEnd;
            finder.totalSectors = raid->totalSectors();
            finder.onScanRecord = [this](const volumes::VolumeRecord& r) {
                feedback_.call([this, r] {
                    choice_.volumes().push_back(r);
                    choice_.addScannedRow(r);
                    showRows();
                });
            };
            finder.scanVolumes();
        },
        [this] { scanEnded(); });
}

void PopulateDriveDlg::scanEnded() {
    backButton()->setEnabled(true);
    feedback_.status("Scanned Partitions");
    if (!leaving_) showMessage(this, QStringLiteral("populated partitions...."));
    feedback_.status("Finished Scanning.");
    custom_->setEnabled(!choice_.volumes().empty());
    addCustom_->setEnabled(true);
    filter_->setEnabled(true);
    nextButton()->setEnabled(true);
    progress_->hide();
    stop_->hide();
    feedback_.status(kSelectVolumeStatus);
}

void PopulateDriveDlg::showRows() {
    filling_ = true;
    list_->clear();
    for (const auto& row : choice_.rows())
        list_->addTopLevelItem(new QTreeWidgetItem(
            QStringList{qs(row.volume), qs(row.fileSystem), qs(row.volumeSize), qs(row.startSector)}));
    const int selected = choice_.selectedRow();
    if (selected >= 0 && selected < list_->topLevelItemCount()) list_->setCurrentItem(list_->topLevelItem(selected));
    filling_ = false;
    if (selected >= 0) showSelection(false);
}

void PopulateDriveDlg::showSelection(bool clicked) {
    auto* item = list_->currentItem();
    if (item == nullptr) return;
    const int row = list_->indexOfTopLevelItem(item);
    choice_.fileSystemEntry = fileSystem_->currentText().toStdString();
    if (clicked ? !choice_.clickRow(row) : !choice_.selectRow(row)) return;
    selectedLabel_->setText(qs(choice_.rows()[row].volume));
    start_->setText(qs(choice_.startText));
    end_->setText(qs(choice_.endText));
    if (clicked && !choice_.fileSystemEntry.empty()) fileSystem_->setCurrentText(qs(choice_.fileSystemEntry));
}

void PopulateDriveDlg::setCustomEnabled(bool on) {
    for (QWidget* w : customGroup_) w->setEnabled(on);
}

void PopulateDriveDlg::onNext() {
    choice_.customSettings = custom_->isChecked();
    choice_.startText = start_->text().toStdString();
    choice_.endText = end_->text().toStdString();
    choice_.fileSystemEntry = fileSystem_->currentIndex() >= 0 ? fileSystem_->currentText().toStdString() : "";
    const VolumeChoice::NextResult result = choice_.next();
    switch (result.outcome) {
        case VolumeChoice::Outcome::Stay:
            showMessage(this, qs(result.message));
            return;
        case VolumeChoice::Outcome::RawRecovery:
            app_.forward(this, new RawRecoveryDialog(app_, *choice_.selectedVolume()));
            return;
        case VolumeChoice::Outcome::RecoveryMode:
            app_.forward(this, new ParceModeNtfsDlg(app_, *choice_.selectedVolume()));
            return;
    }
}

bool PopulateDriveDlg::leaving() {
    // Back is enabled again by Stop while the scan is still ending: let it end first.
    if (worker_.running()) {
        leaving_ = true;
        control_.requestStop();
        worker_.finishServing();
    }
    return true;
}

}  // namespace quenlow::ui
